#!/usr/bin/python3
"""Throughput against size for the memory kernels, from Google Benchmark JSON.

    build/bench/memkernels_bench --benchmark_filter='Sweep|Zlib|Memchr' \\
        --benchmark_min_time=0.05 --benchmark_out=bench.json --benchmark_out_format=json
    /usr/bin/python3 scripts/plot-bench.py bench.json docs/performance.png

Plots the Sweep_* rows (CRC-32, word sum, hex encode, hex decode) as GB/s of
input against input size on log-log axes, each CRC-32 path the CPU ran as a
thinner dashed line of its own beside the dispatched one, and ISA-L's CRC-32
as a dotted black line when the benchmark was built with it; zlib's crc32 and
memchr, when the file holds them, are drawn as single reference points.
Needs Debian's python3-matplotlib; nothing else in the project does.
"""
import json
import sys

import matplotlib

matplotlib.use("Agg")  # no display needed
import matplotlib.pyplot as plt

SERIES = [  # name prefix, label, input bytes per unit of the first argument
    ("Sweep_Crc32/", "CRC-32 (calc_crc32)", 1),
    ("Sweep_WordSum/", "word sum (add_sum)", 1),
    ("Sweep_HexEncode/", "hex encode (BufferToString)", 1),
    ("Sweep_HexDecode/", "hex decode (StringtoBuffer), text bytes", 2),
]
CRC_PATHS = [  # the CRC-32 paths one by one; a path the CPU lacks has no rows
    ("Sweep_Crc32_Vpclmul512/", "CRC-32 path: 512-bit VPCLMULQDQ"),
    ("Sweep_Crc32_Vpclmul256/", "CRC-32 path: 256-bit VPCLMULQDQ"),
    ("Sweep_Crc32_Clmul/", "CRC-32 path: PCLMULQDQ"),
    ("Sweep_Crc32_Portable/", "CRC-32 path: portable slicing"),
]
OPPONENTS = [("Sweep_Crc32_Isal/", "ISA-L crc32_gzip_refl")]  # other libraries' lines, when measured
REFERENCES = [("BM_Crc32_Zlib/", "zlib crc32", "s"), ("BM_Memchr_Absent/", "memchr", "D")]


def rows(path):
    with open(path) as f:
        for b in json.load(f)["benchmarks"]:
            if (b.get("run_type", "iteration") == "iteration" and "bytes_per_second" in b
                    and not b.get("error_occurred")):
                yield b["name"], int(b["name"].split("/")[1]), b["bytes_per_second"] / 1e9


def label_size(n, _pos=None):
    for unit, div in (("MiB", 1 << 20), ("KiB", 1 << 10)):
        if n >= div:
            return "%d %s" % (n // div, unit)
    return "%d B" % n


def main(src, out):
    data = list(rows(src))
    fig, ax = plt.subplots(figsize=(8, 5), dpi=100)
    for prefix, label, scale in SERIES:
        pts = sorted((arg * scale, gbs) for name, arg, gbs in data if name.startswith(prefix))
        if pts:
            ax.plot(*zip(*pts), marker="o", markersize=3, label=label)
    for prefix, label in CRC_PATHS:
        pts = sorted((arg, gbs) for name, arg, gbs in data if name.startswith(prefix))
        if pts:
            ax.plot(*zip(*pts), linestyle="--", linewidth=1, marker=".", markersize=3, label=label)
    for prefix, label in OPPONENTS:
        pts = sorted((arg, gbs) for name, arg, gbs in data if name.startswith(prefix))
        if pts:
            ax.plot(*zip(*pts), linestyle=":", color="black", marker=".", markersize=3, label=label)
    for prefix, label, marker in REFERENCES:
        pts = [(arg, gbs) for name, arg, gbs in data if name.startswith(prefix)]
        if pts:
            ax.plot(*zip(*pts), linestyle="none", marker=marker, color="black", label=label)
    ax.set_xscale("log", base=2)
    ax.set_yscale("log")
    ax.xaxis.set_major_formatter(matplotlib.ticker.FuncFormatter(label_size))
    ax.set_xticks([1 << k for k in range(6, 27, 2)])
    ax.tick_params(axis="x", labelrotation=45)
    ax.set_yticks([0.5, 1, 2, 5, 10, 20, 50, 100, 200])
    ax.yaxis.set_major_formatter(matplotlib.ticker.FuncFormatter(lambda v, _pos: "%g" % v))
    ax.yaxis.set_minor_formatter(matplotlib.ticker.NullFormatter())
    ax.set_xlabel("input size")
    ax.set_ylabel("GB/s of input")
    ax.grid(True, which="both", alpha=0.3)
    ax.legend(fontsize="small", loc="upper center", bbox_to_anchor=(0.5, -0.3), ncol=3)
    fig.tight_layout()
    fig.savefig(out, bbox_inches="tight")


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2])
