# vellumcast: the two set-up commands of a fresh Debian 12 machine are `make demo` and `make check`.
# Each first installs the Debian packages it needs that are missing (scripts/ensure-packages).

BUILD_PACKAGES   := g++ cmake make pkg-config
TEST_PACKAGES    := libgtest-dev libiso9660-dev libudfread-dev
PACKAGE_PACKAGES := dpkg-dev lintian
INTEROP_PACKAGES := 7zip genisoimage udftools lsdvd libbluray-bin qemu-system-x86 linux-image-amd64 \
                    busybox-static ffmpeg dvdauthor lintian man-db xorriso libarchive-tools \
                    isolinux syslinux-common grub-efi-amd64-bin mtools dosfstools ovmf fdisk gdisk
BENCH_PACKAGES   := hyperfine genisoimage xorriso time

JOBS   ?= $(shell nproc 2>/dev/null || echo 2)
PREFIX ?= /usr/local

RELEASE_DIR := build/release
CHECK_DIR   := build/check

.PHONY: demo check interop bench install package release clean format

release:
	@scripts/ensure-packages $(BUILD_PACKAGES)
	cmake -S . -B $(RELEASE_DIR) -DCMAKE_BUILD_TYPE=Release -DVELLUMCAST_TESTS=OFF \
	      -DCMAKE_INSTALL_PREFIX=$(PREFIX) >/dev/null
	cmake --build $(RELEASE_DIR) -j $(JOBS)

demo: release
	rm -f build/sample.iso
	$(RELEASE_DIR)/vellumcast examples/sample build/sample.iso -label SAMPLE -filesystem "ISO9660 + UDF 1.02" -verify
	@echo
	@echo "Wrote build/sample.iso from examples/sample."
	@echo "Run it on your own folder:  $(RELEASE_DIR)/vellumcast /path/to/folder /path/to/image.iso -label NAME -verify"

check:
	@scripts/ensure-packages $(BUILD_PACKAGES) $(TEST_PACKAGES)
	cmake -S . -B $(CHECK_DIR) -DCMAKE_BUILD_TYPE=Debug -DVELLUMCAST_SANITIZE=ON >/dev/null
	cmake --build $(CHECK_DIR) -j $(JOBS)
	cd $(CHECK_DIR) && ctest --output-on-failure -j $(JOBS)

# The interop checks include the package (tests/interop/package.sh): it is built first.
interop: package
	@scripts/ensure-packages $(INTEROP_PACKAGES)
	tests/interop/run $(RELEASE_DIR)/vellumcast

bench: release
	@scripts/ensure-packages $(BENCH_PACKAGES)
	bench/run $(RELEASE_DIR)/vellumcast

install: release
	cmake --install $(RELEASE_DIR) --prefix $(PREFIX)

package: release
	@scripts/ensure-packages $(PACKAGE_PACKAGES)
	scripts/make-deb $(RELEASE_DIR) build

# Lays out every C++ source as .clang-format says (clang-format, Debian 12).
format:
	@scripts/ensure-packages clang-format
	git ls-files '*.cc' '*.h' | xargs clang-format -i

clean:
	rm -rf build
