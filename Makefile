# `make test` installs what is missing, builds Sectorix.dll and passes every
# test; `make bench` runs the benchmarks. Both work on a fresh Debian 12 machine.

BUILD      := build
BUILD64    := build/win64
CMAKE_ARGS := -G Ninja -DCMAKE_BUILD_TYPE=Release

# Windows programs run under 32-bit Wine where the machine can run 32-bit
# code; elsewhere the tests and benchmarks run on a 64-bit build of the same
# sources under wine64, while the product stays the 32-bit DLL.
RUN_BUILD = $(shell /usr/lib/wine/wine --version >/dev/null 2>&1 && echo $(BUILD) || echo $(BUILD64))

.PHONY: all deps build build64 test bench demo clean

all: build

deps:
	scripts/install-deps

build: deps
	cmake -S . -B $(BUILD) $(CMAKE_ARGS) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
	cmake --build $(BUILD)

build64: deps
	cmake -S . -B $(BUILD64) $(CMAKE_ARGS) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake
	cmake --build $(BUILD64)

test: build
	cd $(BUILD) && ctest --output-on-failure -L host
	if [ "$(RUN_BUILD)" = "$(BUILD64)" ]; then $(MAKE) build64; fi
	cd $(RUN_BUILD) && ctest --output-on-failure -j2 -L wine

bench: build
	if [ "$(RUN_BUILD)" = "$(BUILD64)" ]; then $(MAKE) build64; fi
	$(RUN_BUILD)/wine-run $(RUN_BUILD)/bin/bench_watchguard.exe
	$(RUN_BUILD)/wine-run $(RUN_BUILD)/bin/bench_image.exe $(RUN_BUILD)/cards/bench_card.img

# `make demo` copies the demo card, a FAT image that the build makes with
# mkfs.vfat and mcopy, through Sectorix.dll with sectorix-read under Wine,
# then shows that the copy equals the image byte for byte.
demo: build
	if [ "$(RUN_BUILD)" = "$(BUILD64)" ]; then $(MAKE) build64; fi
	SECTORIX_WINE_STREAM=1 $(RUN_BUILD)/wine-run $(RUN_BUILD)/bin/sectorix-read.exe \
	    --image $(RUN_BUILD)/cards/demo_card.img --out $(RUN_BUILD)/cards/demo_card-copy.img
	cmp $(RUN_BUILD)/cards/demo_card.img $(RUN_BUILD)/cards/demo_card-copy.img
	@echo "the copy equals the card image byte for byte:"
	sha256sum $(RUN_BUILD)/cards/demo_card.img $(RUN_BUILD)/cards/demo_card-copy.img

clean:
	rm -rf $(BUILD)
