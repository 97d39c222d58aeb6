# make run   - install what is missing, build, and run examples/demo.vrs showing every line
# make test  - install what is missing, build, and run every test under Wine (one Xvfb)
# make console - opens the console (needs a display)
# make bench - benchmarks against the platform's own tools
# make dist  - the release a user downloads: dist/varnolt-<version>-win64.zip
MAKEFLAGS += --no-print-directory
BUILD := build
JOBS ?= $(shell nproc)
export WINEPREFIX := $(CURDIR)/$(BUILD)/wineprefix
export WINEDEBUG := -all
export WINEDLLOVERRIDES := mscoree,mshtml=

.PHONY: all deps build prefix run console test bench fuzz dist clean

all: build

deps:
	@scripts/install-deps.sh

$(BUILD)/Makefile:
	cmake -S . -B $(BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake

build: deps $(BUILD)/Makefile
	cmake --build $(BUILD) -j $(JOBS)

prefix: deps
	@scripts/wine-prefix.sh

run: build prefix
	@scripts/run-demo.sh

console: build prefix
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
