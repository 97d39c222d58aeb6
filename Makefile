# make run   - install what is missing, build the program and its runner only, and run
#              examples/demo.vrs showing every line
# make test  - install what is missing, build everything, and run every test under Wine (one Xvfb)
# make console - opens the console (needs a display)
# make bench - benchmarks against the platform's own tools
# make dist  - the release a user downloads, in dist/: the zip, the MSI, the editor extension
#              (.vsix) and the winget manifest; SIGN_PFX=file.pfx SIGN_PASSWORD=... signs the
#              program and the MSI
MAKEFLAGS += --no-print-directory
BUILD := build
JOBS ?= $(shell nproc)
export WINEPREFIX := $(CURDIR)/$(BUILD)/wineprefix
export WINEDEBUG := -all
export WINEDLLOVERRIDES := mscoree,mshtml=

# What make run and make console start: the program, its runner and the guide next to it.
RUN_TARGETS := Varnolt vrun help_file

.PHONY: all deps deps-run build build-run prefix run console test bench fuzz dist clean

all: build

deps:
	@scripts/install-deps.sh

deps-run:
	@scripts/install-deps.sh run

$(BUILD)/Makefile:
	cmake -S . -B $(BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake

build: deps $(BUILD)/Makefile
	cmake --build $(BUILD) -j $(JOBS)

build-run: deps-run $(BUILD)/Makefile
	cmake --build $(BUILD) -j $(JOBS) --target $(RUN_TARGETS)

prefix: deps-run
	@scripts/wine-prefix.sh

run: build-run prefix
	@scripts/run-demo.sh

console: build-run prefix
	@scripts/run-console.sh

test: build prefix
	@scripts/run-tests.sh

bench: build prefix
	@scripts/run-bench.sh

fuzz: build prefix
	@scripts/run-fuzz.sh

dist: build
	@python3 scripts/make-dist.py --build $(BUILD) --out dist

clean:
	rm -rf $(BUILD)
