// Registry lookups as activation makes them: a cached snapshot read against a
// full parse of the same file, and a locked no-op update.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <string>

#include "platform/com/registry.h"

namespace {

void Populate() {
  static bool done = false;
  if (done) return;
  done = true;
  char folder[] = "/tmp/zelto-bench-XXXXXX";
  if (!mkdtemp(folder)) return;
  setenv("ZELTO_REGISTRY", (std::string(folder) + "/registry").c_str(), 1);
  RegistryUpdate([](RegistryTree& t) {
    for (int i = 0; i < 200; ++i) {
      const std::string key = "CLSID\\{" + std::to_string(100000 + i) + "}";
      t.SetValue(key, "", "Class " + std::to_string(i));
      t.SetValue(key + "\\InprocServer32", "", "/opt/zelto/m" + std::to_string(i) + ".so");
      t.SetValue(key + "\\InprocServer32", "ThreadingModel", "Apartment");
    }
    return S_OK;
  });
}

void BM_CachedRead(benchmark::State& state) {
  Populate();
  for (auto _ : state) {
    std::optional<std::string> path;
    RegistryRead([&](const RegistryTree& t) {
      path = t.GetValue("CLSID\\{100150}\\InprocServer32", "");
    });
    benchmark::DoNotOptimize(path);
  }
}
BENCHMARK(BM_CachedRead);

void BM_ParseWholeFile(benchmark::State& state) {
  Populate();
  std::string text;
  RegistryRead([&](const RegistryTree& t) { text = t.Serialize(); });
  for (auto _ : state) benchmark::DoNotOptimize(RegistryTree::Parse(text));
}
BENCHMARK(BM_ParseWholeFile);

void BM_NoOpUpdate(benchmark::State& state) {
  Populate();
  for (auto _ : state) {
    benchmark::DoNotOptimize(RegistryUpdate([](RegistryTree&) { return S_OK; }));
  }
}
BENCHMARK(BM_NoOpUpdate);

}  // namespace

BENCHMARK_MAIN();
