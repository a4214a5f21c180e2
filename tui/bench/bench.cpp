// Benchmarks, each beside the baseline it is judged against, in the same run.
//
// Redraw measure: the rows of the previous frame are counted on every key, so
// counting must stay cheap next to the baseline that builds the folded text.
// Playbook streaming: colouring and railing every output line must stay close
// to copying the same bytes through a pipe untouched.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "prompt/style.hpp"
#include "prompt/theme.hpp"
#include "prompt/wrap.hpp"
#include "wizard/modes.hpp"
#include "wizard/playbook_runner.hpp"
#include "wizard/process.hpp"

namespace {

// The phase menu's frame with its longest hint under the cursor, coloured.
std::string phase_menu_frame() {
  DecisionOverride colours(true, true);
  const ThemeState active;
  std::string frame = theme::format_header(active, "Select a standalone playbook phase to execute:");
  const auto& rows = playbook_phases();
  for (std::size_t i = 0; i < rows.size(); ++i)
    frame += theme::format_select_item(active, i == 5, rows[i].label, rows[i].hint);
  return frame + theme::format_footer(active);
}

void BM_CountRows(benchmark::State& state) {
  const std::string frame = phase_menu_frame();
  const auto width = static_cast<std::size_t>(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(count_rows(frame, width));
}
BENCHMARK(BM_CountRows)->Arg(30)->Arg(80)->Arg(120);

// Baseline: fold the text, then count its lines.
void BM_CountRows_Baseline_FoldThenCount(benchmark::State& state) {
  const std::string frame = phase_menu_frame();
  const auto width = static_cast<std::size_t>(state.range(0));
  for (auto _ : state) {
    const std::string folded = wrap(frame, width);
    std::size_t lines = 0;
    for (char c : folded) lines += c == '\n';
    benchmark::DoNotOptimize(lines);
  }
}
BENCHMARK(BM_CountRows_Baseline_FoldThenCount)->Arg(30)->Arg(80)->Arg(120);

// A stand-in ansible-playbook that prints a recorded run of `lines` lines.
struct StreamFixture {
  std::filesystem::path dir;
  std::string data;
  explicit StreamFixture(int lines) {
    char tmpl[] = "/tmp/tervane-bench-XXXXXX";
    dir = mkdtemp(tmpl);
    data = (dir / "output.txt").string();
    std::ofstream out(data);
    const char* shapes[] = {"TASK [base : install packages] ***", "ok: [workstation]",
                            "changed: [workstation] => (item=fish)", "skipping: [workstation]",
                            "workstation : ok=12 changed=3 unreachable=0 failed=0 skipped=1",
                            "  some plain detail line of moderate length for the dim row"};
    for (int i = 0; i < lines; ++i) out << shapes[i % 6] << '\n';
    out.close();
    const auto stub = dir / "ansible-playbook";
    std::ofstream(stub) << "#!/bin/sh\nexec cat '" << data << "'\n";
    std::filesystem::permissions(stub, std::filesystem::perms::owner_all);
    const std::string path = dir.string() + ":/usr/bin:/bin";
    setenv("PATH", path.c_str(), 1);
  }
  ~StreamFixture() { std::filesystem::remove_all(dir); }
};

// Runs `body` with standard output and error sent to /dev/null.
template <class F>
void silenced(F body) {
  std::fflush(stdout);
  const int saved_out = dup(1), saved_err = dup(2);
  const int null = open("/dev/null", O_WRONLY);
  dup2(null, 1);
  dup2(null, 2);
  body();
  dup2(saved_out, 1);
  dup2(saved_err, 2);
  close(null);
  close(saved_out);
  close(saved_err);
}

void BM_RunPlaybook(benchmark::State& state) {
  StreamFixture fx(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    silenced([&] { benchmark::DoNotOptimize(run_playbook("play.yml", "hosts.ini", "vars.json", "/")); });
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_RunPlaybook)->Arg(100000)->Unit(benchmark::kMillisecond);

// Baseline: the same bytes through a pipe from the same stand-in, read and dropped.
void BM_RunPlaybook_Baseline_RawPipe(benchmark::State& state) {
  StreamFixture fx(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    SpawnOptions options;
    options.argv = {"ansible-playbook"};
    options.out = Stdio::Pipe;
    auto child = Child::spawn(options);
    if (!child) {
      state.SkipWithError("spawn failed");
      return;
    }
    const int fd = child->take_stdout();
    char buf[8192];
    while (read(fd, buf, sizeof buf) > 0) {
    }
    close(fd);
    benchmark::DoNotOptimize(child->wait());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_RunPlaybook_Baseline_RawPipe)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
