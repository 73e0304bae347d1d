BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: run test build deps configure bench clean

deps:
	@sh scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	./$(BUILD)/sonarel $(ARGS)

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS) --timeout 300

bench: build
	./$(BUILD)/bench/sonarel_bench --benchmark_filter=-KeyToSound
	/usr/bin/python3 bench/desktop/desktop_bench.py $(BUILD)

clean:
	rm -rf $(BUILD)
