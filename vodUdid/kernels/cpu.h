/*
 * kernels/cpu.h - what each kernel path needs from the CPU, and how its code
 * asks the compiler for it.
 *
 * A path for a wider instruction set is compiled for that set function by
 * function, with one of the VUD_TARGET_... macros below, so the library
 * still loads and runs on a CPU without it: nothing outside those functions
 * may use the wider instructions. The rest of a kernel file is built for
 * plain x86-64 (SSE2 included).
 *
 * The CpuHas... checks read the CPU model that libgcc fills in at load time
 * (CPUID, and whether the kernel saves the wide registers): a load and a
 * test, no lock and no state of our own. They are inline because the
 * dispatching entries run them on every call, and a call of a few dozen
 * bytes should not pay a function call for each.
 */
#ifndef VODUDID_KERNELS_CPU_H
#define VODUDID_KERNELS_CPU_H

/* One macro per instruction set a path is written for. */
#define VUD_TARGET_SSSE3 __attribute__((target("ssse3")))
#define VUD_TARGET_AVX2 __attribute__((target("avx2")))
#define VUD_TARGET_AVX512BW __attribute__((target("avx512bw")))
#define VUD_TARGET_CLMUL __attribute__((target("pclmul,sse4.1")))
#define VUD_TARGET_VPCLMUL256 __attribute__((target("avx2,vpclmulqdq,pclmul,sse4.1")))
#define VUD_TARGET_VPCLMUL512 __attribute__((target("avx512f,vpclmulqdq,pclmul,sse4.1")))

namespace vud {

/* One check per macro above: true where code built with it may run. */
inline bool CpuHasSsse3()
{
    return __builtin_cpu_supports("ssse3");
}

inline bool CpuHasAvx2()
{
    return __builtin_cpu_supports("avx2");
}

inline bool CpuHasAvx512Bw()
{
    return __builtin_cpu_supports("avx512bw");
}

/* PCLMULQDQ, with the SSE4.1 its paths use alongside. */
inline bool CpuHasClmul()
{
    return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
}

/* VPCLMULQDQ on AVX2's 256-bit registers. */
inline bool CpuHasVpclmul256()
{
    return CpuHasClmul() && CpuHasAvx2() && __builtin_cpu_supports("vpclmulqdq");
}

/* VPCLMULQDQ on AVX-512's 512-bit registers. */
inline bool CpuHasVpclmul512()
{
    return CpuHasClmul() && __builtin_cpu_supports("avx512f") &&
           __builtin_cpu_supports("vpclmulqdq");
}

} // namespace vud

#endif /* VODUDID_KERNELS_CPU_H */
