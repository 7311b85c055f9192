# The two commands a newcomer needs: `make run` and `make test`.
BUILD ?= build
JOBS ?= $(shell nproc)
MAKEFLAGS += --no-print-directory

.PHONY: all deps build run test screenshot bench format clean package

all: build

deps:
	@./scripts/install-deps

build: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	@./scripts/run-demo $(BUILD)

test: build
	@cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

screenshot: build
	@./scripts/screenshots $(BUILD)

bench: build
	@$(BUILD)/bench/exchange_timing
	@$(BUILD)/bench/startup $(BUILD)/app/marvalo
	@$(BUILD)/bench/monitor_append
	@$(BUILD)/bench/line_resolve
	@$(BUILD)/bench/sim_answer
	@$(BUILD)/bench/scan_and_poll

# marvalo_<version>_<arch>.deb here, checked the way Debian checks packages.
package: build
	@./scripts/install-deps --package
	@./scripts/make-package $(BUILD)

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	@rm -rf $(BUILD)
