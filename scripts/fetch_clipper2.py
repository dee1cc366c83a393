#!/usr/bin/env python3
"""Fetch the Clipper2 C++ sources from a pinned registry package and build them.

Clipper2 is not vendored.  The clipper2-py source distribution carries the
upstream C++ library under third_party/Clipper2/CPP; this script downloads that
archive with pip, checks its hash, and builds Clipper2 as a static,
position-independent library into the git-ignored prefix .deps/clipper2.

Usage: fetch_clipper2.py [PREFIX]   (prints the prefix on success)
"""
import hashlib
import os
import shutil
import subprocess
import sys
import tarfile
import tempfile

PACKAGE = "clipper2-py"
VERSION = "0.1.1"
ARCHIVE = "clipper2_py-0.1.1.tar.gz"
SHA256 = "9c73d66b5042f404d1f01ac21d2ca57b75c5d658aeeda00f84bfacb7d7caf6a6"
CPP_DIR = "clipper2_py-0.1.1/third_party/Clipper2/CPP"
CLIPPER2_RELEASE = "2.0.1"

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def log(msg):
    print(f"fetch_clipper2: {msg}", file=sys.stderr)


def run_quietly(command):
    """Runs a command with its output kept back, shown only if it fails."""
    done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if done.returncode != 0:
        sys.stderr.write(done.stdout)
        raise subprocess.CalledProcessError(done.returncode, command)


def sha256(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for chunk in iter(lambda: f.read(1 << 16), b""):
            h.update(chunk)
    return h.hexdigest()


def pip_command():
    """pip of this interpreter, or any pip on PATH (build environments may lack one)."""
    probe = subprocess.run([sys.executable, "-m", "pip", "--version"],
                           capture_output=True)
    if probe.returncode == 0:
        return [sys.executable, "-m", "pip"]
    for name in ("pip3", "pip"):
        found = shutil.which(name)
        if found:
            return [found]
    raise SystemExit("fetch_clipper2: no pip available to download Clipper2")


def download(dest_dir):
    archive = os.path.join(dest_dir, ARCHIVE)
    if os.path.exists(archive) and sha256(archive) == SHA256:
        return archive
    log(f"downloading {PACKAGE}=={VERSION} (source distribution)")
    # pip reads the archive's metadata after downloading it, which needs the
    # archive's build backend.  Where this interpreter has it, that is quick;
    # elsewhere pip sets up an isolated build environment for it.
    command = pip_command() + ["download", "--no-deps", "--no-binary", ":all:",
                               "--dest", dest_dir, f"{PACKAGE}=={VERSION}"]
    quick = subprocess.run(command + ["--no-build-isolation"],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if quick.returncode != 0 or not os.path.exists(archive):
        run_quietly(command)
    got = sha256(archive)
    if got != SHA256:
        os.remove(archive)
        raise SystemExit(f"fetch_clipper2: hash mismatch for {ARCHIVE}: {got}")
    return archive


def safe_members(tar, prefix):
    for member in tar.getmembers():
        name = member.name
        if not name.startswith(prefix + "/"):
            continue
        if os.path.isabs(name) or ".." in name.split("/"):
            continue
        if not (member.isfile() or member.isdir()):
            continue
        yield member


def main():
    prefix = os.path.abspath(sys.argv[1] if len(sys.argv) > 1
                             else os.path.join(ROOT, ".deps", "clipper2"))
    stamp = os.path.join(prefix, f".built-{CLIPPER2_RELEASE}-{SHA256[:12]}")
    if os.path.exists(stamp):
        print(prefix)
        return
    deps = os.path.dirname(prefix)
    os.makedirs(deps, exist_ok=True)
    archive = download(deps)
    with tempfile.TemporaryDirectory(dir=deps) as work:
        with tarfile.open(archive, "r:gz") as tar:
            tar.extractall(work, members=list(safe_members(tar, CPP_DIR)))
        src = os.path.join(work, CPP_DIR)
        # Upstream builds with -Werror; newer compilers warn where it did not.
        cmakelists = os.path.join(src, "CMakeLists.txt")
        with open(cmakelists) as f:
            text = f.read()
        with open(cmakelists, "w") as f:
            f.write(text.replace(" -Werror", ""))
        build = os.path.join(work, "build")
        cmake = shutil.which("cmake") or "cmake"
        log(f"building Clipper2 {CLIPPER2_RELEASE} into {prefix}")
        run_quietly([cmake, "-S", src, "-B", build,
                     "-DCMAKE_BUILD_TYPE=Release",
                     "-DCMAKE_POSITION_INDEPENDENT_CODE=ON",
                     "-DBUILD_SHARED_LIBS=OFF",
                     "-DCLIPPER2_UTILS=OFF", "-DCLIPPER2_EXAMPLES=OFF",
                     "-DCLIPPER2_TESTS=OFF", "-DCLIPPER2_USINGZ=OFF",
                     "-DCMAKE_CXX_FLAGS=-ffp-contract=off",
                     f"-DCMAKE_INSTALL_PREFIX={prefix}",
                     "-DCMAKE_INSTALL_LIBDIR=lib"])
        jobs = str(os.cpu_count() or 2)
        run_quietly([cmake, "--build", build, "-j", jobs])
        run_quietly([cmake, "--install", build])
    with open(stamp, "w") as f:
        f.write(f"Clipper2 {CLIPPER2_RELEASE} from {PACKAGE} {VERSION}\n")
    print(prefix)


if __name__ == "__main__":
    main()
