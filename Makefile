BUILD ?= build
PREFIX ?= /usr/local
JOBS ?= $(shell nproc)

.PHONY: run test build deps configure bench clean install uninstall deb sanitize sanitize-thread windows test-windows

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

# The same tests on a build with AddressSanitizer and UndefinedBehaviorSanitizer,
# in a folder of its own, so that a memory fault is found the day it is
# written. The package test and the fuzzer (sanitized on its own) are left out.
SANITIZE_BUILD ?= build-sanitize
sanitize: deps
	@cmake -S . -B $(SANITIZE_BUILD) -DCMAKE_BUILD_TYPE=Debug -DSONAREL_SANITIZE=ON >/dev/null
	@cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	cd $(SANITIZE_BUILD) && QT_QPA_PLATFORM=offscreen SONAREL_SANITIZED=1 \
	  ASAN_OPTIONS=detect_stack_use_after_return=1:abort_on_error=1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/sanitize.supp:print_suppressions=0 \
	  ctest --output-on-failure -j $(JOBS) --timeout 600 -E 'packaging|songs.fuzz'

# The tests whose code runs on threads of its own beside the UI thread (the
# synthesizer with its slow calls and timed clicks, the PulseAudio output,
# the song file's syncer, a MIDI input's notes from the MIDI system's thread)
# and the single instance's socket with second starts on threads of their
# own, under ThreadSanitizer, in a folder of its own; only what they need is
# built. A race in a library that
# is not ours is suppressed in tests/sanitize-thread.supp, with the reason.
TSAN_BUILD ?= build-sanitize-thread
# The whole program is not run here (its window-less parts are, above): with Qt, GLib and libinstpatch built
# without the sanitizer, their own threads (Qt's D-Bus bridge, QtGui's image
# thread pool) are reported by the dozen, each a hand-over the sanitizer
# cannot see inside those libraries.
TSAN_TARGETS = test_synthservice test_pulseoutput test_songs_songfile test_midiinput test_singleinstance
TSAN_TESTS = ^(midi\.synth|midi\.pulse_output|midi\.input|window\.single_instance|songs\.songfile)$$
sanitize-thread: deps
	@cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DSONAREL_SANITIZE_THREAD=ON >/dev/null
	@cmake --build $(TSAN_BUILD) -j $(JOBS) --target $(TSAN_TARGETS)
	cd $(TSAN_BUILD) && QT_QPA_PLATFORM=offscreen SONAREL_SANITIZED=1 \
	  TSAN_OPTIONS=halt_on_error=1:exitcode=66:second_deadlock_stack=1:suppressions=$(CURDIR)/tests/sanitize-thread.supp \
	  ctest --output-on-failure --timeout 900 -R '$(TSAN_TESTS)'

bench: build
	@sh scripts/install-deps bench
	./$(BUILD)/bench/sonarel_bench --benchmark_filter=-KeyTo
	/usr/bin/python3 bench/desktop/desktop_bench.py $(BUILD)

# The Windows program, cross-built with mingw-w64 against a Qt built once
# from Debian's source and kept in ~/.cache/sonarel: its installer and
# portable zip land in $(WINDOWS_BUILD)/package/. test-windows runs its unit
# tests and the installed program under Wine on a private X server.
WINDOWS_BUILD ?= build-windows
windows: build
	@sh scripts/install-deps windows
	@sh scripts/build-windows $(WINDOWS_BUILD) $(BUILD)

test-windows: windows
	@sh scripts/test-windows $(WINDOWS_BUILD) $(BUILD)

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD) $(TSAN_BUILD) $(WINDOWS_BUILD)

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
