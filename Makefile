# Quorlane: `make run` and `make test` are all a fresh Debian 12 machine needs.
BUILD      ?= build
SAN_BUILD  ?= build-sanitize
TSAN_BUILD ?= build-tsan
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=

.PHONY: all deps build run test test-sanitize test-tsan bench clean

all: build

deps:
	@./scripts/install-deps.sh

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS)

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

# Until the windows exist, `run` shows that the engine finds and binds its libraries.
run: build
	@echo "The windows are not built yet; running: quorlane-cli libs"
	$(BUILD)/bin/quorlane-cli libs

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

$(SAN_BUILD)/build.ninja:
	cmake -S . -B $(SAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUORLANE_SANITIZE=address,undefined $(CMAKE_ARGS)

test-sanitize: deps $(SAN_BUILD)/build.ninja
	cmake --build $(SAN_BUILD) -j $(JOBS)
	cd $(SAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure -j $(JOBS)

$(TSAN_BUILD)/build.ninja:
	cmake -S . -B $(TSAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORLANE_SANITIZE=thread $(CMAKE_ARGS)

# ThreadSanitizer over the engine component, the previewer and the engine's threading tests.
TSAN_TARGETS ?= component_threads_test component_options_test services_logger_test filters_previewer_test \
                run_features_test
TSAN_TESTS   ?= ^(TranskitThreads\.|PauseGate\.|MainThreadCalls\.|LoggerDelivery\.|PreviewTest\.|RunFeatures\.(ComponentHooks|Preview))
test-tsan: deps $(TSAN_BUILD)/build.ninja
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target $(TSAN_TARGETS)
	cd $(TSAN_BUILD) && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
	  ctest --output-on-failure -j $(JOBS) -R '$(TSAN_TESTS)'

bench: build
	@echo "Benchmarks live under bench/; see bench/README.md"

clean:
	rm -rf $(BUILD) $(SAN_BUILD) $(TSAN_BUILD)
