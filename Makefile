# Entry points. `make demo` and `make test` work as the first command on a
# fresh Debian 12 machine: each installs what is missing and builds first.
#
#   make deps      install the Debian packages the project needs
#   make build     configure and build into build/ (the tool is build/bin/vtfmt)
#   make demo      run vtfmt on the bundled samples
#   make test      run every test; `make test SANITIZE=1` under ASan/UBSan (build-asan/)
#   make bench     throughput beside GDAL's (BENCH="raw bmp ..." picks some;
#                  "python" the Python module's reads, bench/python_read.py)
#   make fuzz      build the libFuzzer targets with clang (build-fuzz/) and run each
#                  for FUZZ_SECONDS (default 60), FUZZ_JOBS at a time (default 1);
#                  FUZZ_TARGETS="tool mrsid" runs some; figures in fuzz/last-run.txt

SANITIZE ?=
FUZZ_SECONDS ?= 60
FUZZ_JOBS ?= 1
FUZZ_TARGETS ?=
JOBS ?= $(shell nproc)
# Debian's interpreter, which the Python module is built for.
PYTHON ?= /usr/bin/python3
ifeq ($(SANITIZE),1)
BUILD ?= build-asan
CMAKE_FLAGS += -DVTFMT_SANITIZE=ON -DVTFMT_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug
# A sanitizer report ends a process with a status of its own (86), which no
# test expects: a tool test expecting 1 ("not of the format") cannot take
# an abort for it.
export ASAN_OPTIONS = exitcode=86:detect_leaks=1
export UBSAN_OPTIONS = exitcode=86:halt_on_error=1:print_stacktrace=1
else
BUILD ?= build
endif

.PHONY: all deps build demo test bench fuzz clean

all: build

deps:
	@scripts/install-deps

build: deps
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

demo: build
	@scripts/demo $(BUILD)/bin/vtfmt

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# No BENCH runs every benchmark, the Python one included; "python" among
# the names runs the Python one, the other names vtfmt_bench.
BENCH_CXX = $(filter-out python,$(BENCH))
bench: build
	@if [ -z "$(strip $(BENCH))" ] || [ -n "$(strip $(BENCH_CXX))" ]; then $(BUILD)/bin/vtfmt_bench $(BENCH_CXX); fi
	@if [ -z "$(strip $(BENCH))" ] || [ -n "$(filter python,$(BENCH))" ]; then \
	  PYTHONPATH=$(BUILD)/python $(PYTHON) bench/python_read.py; fi

fuzz: deps
	@CC=clang CXX=clang++ cmake -S . -B build-fuzz -DVTFMT_FUZZ=ON -DVTFMT_TESTS=OFF -DVTFMT_BENCH=OFF >/dev/null
	@cmake --build build-fuzz -j $(JOBS)
	@FUZZ_JOBS=$(FUZZ_JOBS) FUZZ_TARGETS="$(FUZZ_TARGETS)" scripts/fuzz $(FUZZ_SECONDS)

clean:
	rm -rf build build-asan build-fuzz
