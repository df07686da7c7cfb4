// CBCString speed: Format of a short typical format against snprintf into a
// stack buffer (target: at most 1.5x; its %f is sized without being printed),
// and Replace, Find, Remove on 1 KiB and 1 MiB texts (bytes per second should
// stay flat: the operations are linear in the length).
#include "BCString.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

namespace {

void BM_Format(benchmark::State& state)
{
    CBCString s;
    for (auto _ : state) {
        s.Format("%s=%d (%5.2f)", "width", 42, 3.14159);
        benchmark::DoNotOptimize((LPCBTSTR)s);
    }
}
BENCHMARK(BM_Format);

void BM_SnprintfStack(benchmark::State& state)
{
    for (auto _ : state) {
        char buf[64];
        snprintf(buf, sizeof buf, "%s=%d (%5.2f)", "width", 42, 3.14159);
        benchmark::DoNotOptimize(buf);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_SnprintfStack);

// A text of state.range(0) bytes: "abcdefgh" repeated.
std::string Text(benchmark::State& state)
{
    std::string t;
    while (t.size() < (size_t)state.range(0))
        t += "abcdefgh";
    t.resize((size_t)state.range(0));
    return t;
}

void BM_ReplaceSub(benchmark::State& state)
{
    CBCString s(Text(state).c_str());
    bool flip = false;
    for (auto _ : state) {
        // One match in eight bytes, swapped back and forth.
        benchmark::DoNotOptimize(flip ? s.Replace("dc", "cd") : s.Replace("cd", "dc"));
        flip = !flip;
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ReplaceSub)->Arg(1 << 10)->Arg(1 << 20);

void BM_FindSubAbsent(benchmark::State& state)
{
    CBCString s(Text(state).c_str());
    for (auto _ : state)
        benchmark::DoNotOptimize(s.Find("abcdefgX"));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_FindSubAbsent)->Arg(1 << 10)->Arg(1 << 20);

void BM_FindCharLast(benchmark::State& state)
{
    std::string t = Text(state);
    t.back() = 'Z';
    CBCString s(t.c_str());
    for (auto _ : state)
        benchmark::DoNotOptimize(s.Find('Z', 1));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_FindCharLast)->Arg(1 << 10)->Arg(1 << 20);

void BM_CopyAndRemove(benchmark::State& state)
{
    CBCString s(Text(state).c_str());
    for (auto _ : state) {
        CBCString t(s);  // copy included: Remove works in place
        benchmark::DoNotOptimize(t.Remove('c'));
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_CopyAndRemove)->Arg(1 << 10)->Arg(1 << 20);

} // namespace

BENCHMARK_MAIN();
