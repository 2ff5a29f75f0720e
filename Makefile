# The two commands a new user needs: `make run` and `make test`.
BUILD_DIR ?= build
JOBS ?= $(shell nproc)
PROGRAM_DIR := $(BUILD_DIR)/program

.PHONY: run test build deps configure demo-media clean

deps:
	@bash scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	@cd $(BUILD_DIR) && ctest --output-on-failure -j 1

run: build
	@bash scripts/run.sh $(PROGRAM_DIR)

clean:
	rm -rf $(BUILD_DIR)
