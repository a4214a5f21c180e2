# Build, run and test the Tervane bootstrap wizard.
SHELL := /bin/bash
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
# CMake finds its presets in tui/.
CMAKE_IN_TUI := cd tui &&

.PHONY: build run test test-deps bench clean fuzz

build:
	$(CMAKE_IN_TUI) cmake --preset release >/dev/null
	$(CMAKE_IN_TUI) cmake --build --preset release -j $(JOBS)

run: build
	./tui/build/release/bin/tervane-wizard

test-deps:
	bash tui/tests/install-deps.sh

test: test-deps
	$(CMAKE_IN_TUI) cmake --preset debug >/dev/null
	$(CMAKE_IN_TUI) cmake --build --preset debug -j $(JOBS)
	$(CMAKE_IN_TUI) ctest --preset debug -j $(JOBS)
	$(CMAKE_IN_TUI) cmake --preset tsan >/dev/null
	$(CMAKE_IN_TUI) cmake --build --preset tsan -j $(JOBS)
	$(CMAKE_IN_TUI) ctest --preset tsan
	bash tui/tests/unicode_tables_check.sh
	bash tui/fuzz/run.sh --once
	set -o pipefail; bash tui/tests/playbooks/check.sh | tee tui/build/playbooks.log
	bash tui/tests/skipped.sh

# Each fuzz target for FUZZ_SECONDS from its corpus in tui/fuzz/corpus/.
FUZZ_SECONDS ?= 60
fuzz: test-deps
	bash tui/fuzz/run.sh $(FUZZ_SECONDS)

bench: test-deps
	bash tui/bench/run.sh

clean:
	rm -rf tui/build
