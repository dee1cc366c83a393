import swathwise as sw


def test_version(service):
    assert service.getVersion() == "1.3"
