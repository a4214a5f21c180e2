# Build, run and test the Tervane bootstrap wizard.
SHELL := /bin/bash
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: build run test test-deps bench clean

build:
	cmake --preset release >/dev/null
	cmake --build --preset release -j $(JOBS)

run: build
	./tui/build/release/bin/tervane-wizard

test-deps:
	bash tui/tests/install-deps.sh

test: test-deps
	cmake --preset debug >/dev/null
	cmake --build --preset debug -j $(JOBS)
	ctest --preset debug -j $(JOBS)
	cmake --preset tsan >/dev/null
	cmake --build --preset tsan -j $(JOBS)
	ctest --preset tsan
	bash tui/tests/unicode_tables_check.sh
	bash tui/tests/playbooks/check.sh

bench: test-deps
	bash tui/tests/bench/run.sh

clean:
	rm -rf tui/build
