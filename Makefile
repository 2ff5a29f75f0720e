# The two commands a new user needs: `make run` and `make test`. `make test-sanitize` runs every
# test again under AddressSanitizer and UndefinedBehaviorSanitizer, in a build folder of its own;
# `make fuzz` runs the fuzz targets in fuzz/ (FUZZ_SECONDS each).
SHELL := /bin/bash
BUILD_DIR ?= build
JOBS ?= $(shell nproc)
PROGRAM_DIR := $(BUILD_DIR)/program

SANITIZE_DIR ?= build-sanitize
FUZZ_DIR ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS := fuzz_settings_file fuzz_media_command fuzz_stored_number fuzz_patterns \
    fuzz_loudness_cache fuzz_schedule fuzz_remote_settings fuzz_playlist fuzz_play_payload

.PHONY: run test test-sanitize fuzz package build deps configure demo-media clean

deps:
	@bash scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	@cd $(BUILD_DIR) && ctest --output-on-failure -j 1

# Any finding ends the test that made it; leaks are reported, but for those the libraries keep.
test-sanitize: deps
	@cmake -S . -B $(SANITIZE_DIR) -DCMAKE_BUILD_TYPE=Debug -DCORVANE_SANITIZE=ON >/dev/null
	@cmake --build $(SANITIZE_DIR) -j $(JOBS)
	@cd $(SANITIZE_DIR) && \
	    ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:fast_unwind_on_malloc=0 \
	    LSAN_OPTIONS=suppressions=$(CURDIR)/scripts/sanitizer.supp:print_suppressions=0 \
	    UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	    ctest --output-on-failure -j 1

# Each fuzz target runs FUZZ_SECONDS from the committed seeds in fuzz/corpus; what it finds new is
# kept in $(FUZZ_DIR)/corpus, and a failing input is written to the current folder.
fuzz: deps
	@CC=clang CXX=clang++ cmake -S . -B $(FUZZ_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DCORVANE_FUZZ=ON >/dev/null
	@cmake --build $(FUZZ_DIR) -j $(JOBS) --target $(FUZZ_TARGETS)
	@for target in $(FUZZ_TARGETS); do \
	    mkdir -p $(FUZZ_DIR)/corpus/$$target && \
	    echo "fuzz: $$target for $(FUZZ_SECONDS) s" && \
	    $(FUZZ_DIR)/fuzz/$$target -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	        $(FUZZ_DIR)/corpus/$$target fuzz/corpus/$$target 2>&1 | \
	        grep -E "stat::number_of_executed_units|ERROR|SUMMARY|Test unit written|==[0-9]+==" ; \
	    test $${PIPESTATUS[0]} -eq 0 || exit 1; \
	done

# A Debian package in $(BUILD_DIR): install it with `sudo apt-get install ./$(BUILD_DIR)/corvane_*.deb`.
package: build
	@cd $(BUILD_DIR) && cpack -G DEB

run: build
	@bash scripts/run.sh $(PROGRAM_DIR)

clean:
	rm -rf $(BUILD_DIR) $(SANITIZE_DIR) $(FUZZ_DIR)
