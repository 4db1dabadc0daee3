# Convenience targets around the CMake build.
BUILD      ?= build
ASAN_BUILD ?= build-asan
BENCH_BUILD ?= build-bench
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE      ?= cmake

PREFIX     ?= /usr/local

FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60

.PHONY: all build demo test test-asan bench install fuzz clean python

all: build

build:
	$(CMAKE) -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	$(CMAKE) --build $(BUILD) -j $(JOBS)

# The Python module, into $(BUILD)/python (needs pybind11-dev, python3-dev).
python:
	$(CMAKE) -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	$(CMAKE) --build $(BUILD) -j $(JOBS) --target varnik_python
	@echo "Module: $(BUILD)/python (PYTHONPATH=$(BUILD)/python python3 -c 'import varnik')"

# Trains a position weight matrix on the bundled splice-donor windows and
# tests it on the held-out ones.
demo:
	$(CMAKE) -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	$(CMAKE) --build $(BUILD) -j $(JOBS) --target varnik
	mkdir -p demo-output
	cd demo-output && ../$(BUILD)/varnik ../data/examples/donor_train_ ../data/examples/donor_test_ \
		../data/examples/pwm_donor.params pwm_donor.report
	@echo "Report: demo-output/pwm_donor.report (ROC points: demo-output/pwm_donor.report-auc)"

test:
	$(CMAKE) -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DVARNIK_REQUIRE_TESTS=ON
	$(CMAKE) --build $(BUILD) -j $(JOBS)
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-asan:
	$(CMAKE) -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DVARNIK_SANITIZE=ON -DVARNIK_REQUIRE_TESTS=ON
	$(CMAKE) --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ctest --output-on-failure -j $(JOBS)

bench:
	$(CMAKE) -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DVARNIK_BENCH=ON -DVARNIK_TESTS=OFF
	$(CMAKE) --build $(BENCH_BUILD) -j $(JOBS)
	bash bench/run_benchmarks.sh $(BENCH_BUILD)

# Builds the libFuzzer targets with clang (under AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for FUZZ_SECONDS.
fuzz:
	bash tools/fuzz.sh $(FUZZ_SECONDS) $(FUZZ_BUILD)

# The binary and the man page under $(PREFIX) (bin/, share/man/man1/), staged
# under $(DESTDIR) when it is set.
install: build
	DESTDIR="$(DESTDIR)" $(CMAKE) --install $(BUILD) --prefix "$(PREFIX)"

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(BENCH_BUILD) $(FUZZ_BUILD) demo-output
