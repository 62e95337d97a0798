# `make test` installs what is missing, builds Sectorix.dll and passes every
# test; `make bench` runs the benchmarks. Both work on a fresh Debian 12 machine.

BUILD      := build
BUILD64    := build/win64
CMAKE_ARGS := -G Ninja -DCMAKE_BUILD_TYPE=Release

# Windows programs run under 32-bit Wine where the machine can run 32-bit
# code; elsewhere the tests and benchmarks run on a 64-bit build of the same
# sources under wine64, while the product stays the 32-bit DLL.
RUN_BUILD = $(shell /usr/lib/wine/wine --version >/dev/null 2>&1 && echo $(BUILD) || echo $(BUILD64))

.PHONY: all deps build build64 dist test bench demo fuzz clean

all: build

deps:
	scripts/install-deps

# A build tree is configured once; from then on the build itself notices
# changes of the CMake files, so that a build after a build does nothing.
build: deps
	[ -f $(BUILD)/build.ninja ] || cmake -S . -B $(BUILD) $(CMAKE_ARGS) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
	cmake --build $(BUILD)

build64: deps
	[ -f $(BUILD64)/build.ninja ] || cmake -S . -B $(BUILD64) $(CMAKE_ARGS) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake
	cmake --build $(BUILD64)

# `make dist` writes the release, build/dist/Sectorix-VERSION-win32.zip; the
# tests build the examples against it.
dist: build
	cmake --build $(BUILD) --target dist

test: dist
	cd $(BUILD) && ctest --output-on-failure -L host
	if [ "$(RUN_BUILD)" = "$(BUILD64)" ]; then $(MAKE) build64; fi
	cd $(RUN_BUILD) && ctest --output-on-failure -j2 -L wine
	scripts/fuzz replay

bench: build
	if [ "$(RUN_BUILD)" = "$(BUILD64)" ]; then $(MAKE) build64; fi
	$(RUN_BUILD)/wine-run $(RUN_BUILD)/bin/bench_watchguard.exe
	$(RUN_BUILD)/wine-run $(RUN_BUILD)/bin/bench_image.exe $(RUN_BUILD)/cards/bench_card.img
	SECTORIX_WINE_TIMEOUT=300 $(RUN_BUILD)/wine-run $(RUN_BUILD)/bin/bench_flat.exe $(RUN_BUILD)/cards/bench_card.img
	SECTORIX_WINE_TIMEOUT=300 $(RUN_BUILD)/wine-run $(RUN_BUILD)/bin/bench_service.exe $(RUN_BUILD)/cards/bench_card.img
	SECTORIX_WINE_TIMEOUT=300 $(RUN_BUILD)/wine-run $(RUN_BUILD)/bin/bench_lap.exe $(RUN_BUILD)/cards/test_card.img
	SECTORIX_WINE_TIMEOUT=300 $(RUN_BUILD)/wine-run $(RUN_BUILD)/bin/bench_cardlib.exe $(RUN_BUILD)/cards/bench_card.img

# `make demo` copies the demo card, a FAT image that the build makes with
# mkfs.vfat and mcopy, through Sectorix.dll under Wine, four times: with
# sectorix-read from the image file, from physical disk 0 as the stand-in
# card service serves it, and as a lap that the stand-in telvane.dll sends
# over the telemetry link; and with sectorix-flat, through the flat
# functions only, from the card service's disk. Each time the copy must
# equal the image byte for byte. Then it formats and initialises a copy of
# the demo card through the stand-in CMDLL.DLL: the card's bytes must hold
# the init file at its start, as the stand-in keeps it, and 0xFF after it.
DEMO_CARD := $(RUN_BUILD)/cards/demo_card.img
DEMO_LAPS := $(RUN_BUILD)/cards/demo_laps
DEMO_INIT_CARD := $(RUN_BUILD)/cards/demo_init_card.img
DEMO_INIT := $(RUN_BUILD)/cards/demo.init

demo: build
	if [ "$(RUN_BUILD)" = "$(BUILD64)" ]; then $(MAKE) build64; fi
	SECTORIX_WINE_STREAM=1 $(RUN_BUILD)/wine-run $(RUN_BUILD)/bin/sectorix-read.exe \
	    --image $(DEMO_CARD) --out $(RUN_BUILD)/cards/demo_card-copy.img
	cmp $(DEMO_CARD) $(RUN_BUILD)/cards/demo_card-copy.img
	scripts/with-card-service $(RUN_BUILD)/wine-run $(RUN_BUILD)/bin/sectorix-card-service.exe \
	    --disk 0=$(DEMO_CARD) -- \
	    env SECTORIX_WINE_STREAM=1 $(RUN_BUILD)/wine-run $(RUN_BUILD)/bin/sectorix-read.exe \
	    --drive PhysicalDrive0 --out $(RUN_BUILD)/cards/demo_card-service-copy.img
	cmp $(DEMO_CARD) $(RUN_BUILD)/cards/demo_card-service-copy.img
	mkdir -p $(DEMO_LAPS)
	SECTORIX_WINE_STREAM=1 TELEMETRY_STANDIN_LAPS=$(RUN_BUILD)/cards/demo_card.mflap \
	    $(RUN_BUILD)/wine-run $(RUN_BUILD)/bin/sectorix-read.exe --telemetry demo \
	    --libraries Z:$(abspath $(RUN_BUILD))/standins/telemetry/full --out $(DEMO_LAPS)
	cmp $(DEMO_CARD) $(DEMO_LAPS)/lap-1-0.img
	scripts/with-card-service $(RUN_BUILD)/wine-run $(RUN_BUILD)/bin/sectorix-card-service.exe \
	    --disk 0=$(DEMO_CARD) -- \
	    env SECTORIX_WINE_STREAM=1 $(RUN_BUILD)/wine-run $(RUN_BUILD)/bin/sectorix-flat.exe \
	    --timeout 20 --out $(RUN_BUILD)/cards/demo_card-flat-copy.img
	cmp $(DEMO_CARD) $(RUN_BUILD)/cards/demo_card-flat-copy.img
	@echo "all four copies equal the card image byte for byte:"
	sha256sum $(DEMO_CARD) $(RUN_BUILD)/cards/demo_card-copy.img $(RUN_BUILD)/cards/demo_card-service-copy.img \
	    $(DEMO_LAPS)/lap-1-0.img $(RUN_BUILD)/cards/demo_card-flat-copy.img
	cp $(DEMO_CARD) $(DEMO_INIT_CARD)
	printf '\001\001\000\000\016\000\000\000Sectorix demo\n\002\001\000\000\004\000\000\000demo' >$(DEMO_INIT)
	SECTORIX_WINE_STREAM=1 CARDLIB_STANDIN_CARD=Z:$(abspath $(DEMO_INIT_CARD)) \
	    $(RUN_BUILD)/wine-run $(RUN_BUILD)/bin/sectorix-read.exe --image $(DEMO_INIT_CARD) --init $(DEMO_INIT) \
	    --format --yes --libraries Z:$(abspath $(RUN_BUILD))/standins/cardlib/full
	! cmp -s $(DEMO_CARD) $(DEMO_INIT_CARD)
	tail -c +5 $(DEMO_INIT_CARD) | head -c $$(stat -c %s $(DEMO_INIT)) | cmp - $(DEMO_INIT)
	test $$(tail -c +$$((5 + $$(stat -c %s $(DEMO_INIT)))) $(DEMO_INIT_CARD) | tr -d '\377' | wc -c) -eq 0
	@echo "the initialised card: the init file's $$(stat -c %s $(DEMO_INIT)) bytes after their count, 0xFF to its end:"
	od -A d -t x1 $(DEMO_INIT_CARD) | head -4

# `make fuzz` runs each native fuzz target for FUZZ_SECONDS (default three
# minutes) and says what it found.
FUZZ_SECONDS ?= 180

fuzz: deps
	scripts/fuzz run $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD)
