BUILD ?= build
PREFIX ?= /usr/local
JOBS ?= $(shell nproc)

.PHONY: run test build deps configure bench clean install uninstall deb

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
	@sh scripts/install-deps bench
	./$(BUILD)/bench/sonarel_bench --benchmark_filter=-KeyTo
	/usr/bin/python3 bench/desktop/desktop_bench.py $(BUILD)

clean:
	rm -rf $(BUILD)

# DESTDIR is honoured. The desktop's caches are brought up to date only for a
# real install, not for one staged into DESTDIR.
install: build
	cmake --install $(BUILD) --prefix $(PREFIX)
	@[ -n "$(DESTDIR)" ] || sh scripts/desktop-caches $(PREFIX)

# Removes what the last `make install` put there (its list is in the build
# folder), then the folders it made that are now empty.
uninstall:
	@sh scripts/uninstall $(BUILD)/install_manifest.txt "$(DESTDIR)" $(PREFIX)
	@[ -n "$(DESTDIR)" ] || sh scripts/desktop-caches $(PREFIX)

deb: build
	cd $(BUILD) && cpack -G DEB
	@ls $(BUILD)/package/*.deb
