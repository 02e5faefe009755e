# The two commands of the README. Everything else is CMake (see scripts/).
.PHONY: run test build package clean

# Builds what is missing and starts Quillstream; FILE=path follows that file, otherwise a
# demo log that a small generator keeps writing.
run:
	@scripts/run $(FILE)

# Installs what is missing, builds everything and passes every test.
test:
	@scripts/test

# Builds the Debian package quillstream_<version>_<architecture>.deb in this folder.
package:
	@scripts/package

build:
	@scripts/bootstrap
	@cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build build -j $$(nproc)

clean:
	rm -rf build build-asan build-tsan build-fuzz build-bench quillstream_*.deb
