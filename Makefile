# Build, run and test the Tervane bootstrap wizard.
SHELL := /bin/bash
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
# CMake finds its presets in tui/.
CMAKE_IN_TUI := cd tui &&

.PHONY: build run test test-deps bench clean fuzz

# The preset that `make build` and `make run` use (tests run it with PRESET=debug).
PRESET ?= release
BUILD_DIR := tui/build/$(PRESET)

# Quiet: nothing at all when the wizard is up to date; otherwise one line, and
# the output of CMake and the compiler only when the build fails.
BUILD_SH = set -o pipefail; log=$$(mktemp); trap 'rm -f "$$log"' EXIT; \
	said=; say() { [ -n "$$said" ] || echo "Building tervane-wizard ($(PRESET))..." >&2; said=1; }; \
	if [ ! -f $(BUILD_DIR)/CMakeCache.txt ] || [ tui/CMakePresets.json -nt $(BUILD_DIR)/CMakeCache.txt ]; then \
	  say; ($(CMAKE_IN_TUI) cmake --preset $(PRESET)) >"$$log" 2>&1 || { cat "$$log" >&2; exit 1; }; \
	fi; \
	($(CMAKE_IN_TUI) cmake --build --preset $(PRESET) -j $(JOBS) --target tervane-wizard -- --no-print-directory) 2>&1 | \
	  while IFS= read -r line; do \
	    printf '%s\n' "$$line" >>"$$log"; \
	    case $$line in *"Building "*|*"Linking "*|*"Re-running CMake"*) say;; esac; \
	  done || { cat "$$log" >&2; exit 1; }

build:
	@$(BUILD_SH)

# Keys typed while the wizard builds are not echoed (the wizard discards them
# when it starts, so they answer nothing). The wizard's own report is the last
# word: its exit status 1 (the report has been printed) does not add make's
# "Error 1" under it. Ctrl-C, in the build or in the wizard, ends make by
# SIGINT without make's "Interrupt" line: the recipe survives the signal and
# sends it to make itself, then ends only once make has taken it (it is no
# longer pending), so that make's handler, not its main loop, collects the
# recipe. Another signal that ends the wizard ends the recipe's shell by the
# same signal, as `exec` would.
run:
	@trap 'interrupted=1' INT; interrupted=; saved=; \
	if [ -t 0 ]; then saved=$$(stty -g) && stty -echo; fi; \
	( $(BUILD_SH) ); status=$$?; \
	[ -z "$$saved" ] || stty "$$saved"; \
	if [ $$status -eq 0 ] && [ -z "$$interrupted" ]; then ./$(BUILD_DIR)/bin/tervane-wizard; status=$$?; fi; \
	if [ -n "$$interrupted" ] || [ $$status -eq 130 ]; then kill -INT $$PPID; \
	  for i in $$(seq 500); do grep -qE '^ShdPnd:\s*[0-9a-f]*[2367abef]$$' /proc/$$PPID/status 2>/dev/null || break; sleep 0.01; done; \
	  exit 0; fi; \
	if [ $$status -gt 128 ]; then kill -$$((status - 128)) $$$$; fi; \
	[ $$status -le 1 ] || exit $$status

test-deps:
	bash tui/tests/install-deps.sh

# The debug build and its tests (each fuzz target once over its corpus among them), the
# thread-sanitized spinner test, the Unicode tables, the playbook checks and, beside them all
# from the start, the target check.
test: test-deps
	@JOBS=$(JOBS) bash tui/tests/run.sh

# Each fuzz target for FUZZ_SECONDS from its corpus in tui/fuzz/corpus/.
FUZZ_SECONDS ?= 60
fuzz:
	bash tui/tests/install-deps.sh fuzz
	bash tui/fuzz/run.sh $(FUZZ_SECONDS)

bench: test-deps
	bash tui/bench/run.sh

clean:
	rm -rf tui/build
