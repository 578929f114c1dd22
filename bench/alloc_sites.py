#!/usr/bin/env python3
"""Names and counts the allocation stacks that `kvor-bench --alloc-sites FILE` wrote.

    bench/alloc_sites.py FILE [--per N] [--depth D] [--top K] [--grep TEXT]

Each line of FILE is one heap allocation of the GUI thread during the paced RUN window, its
frames as "library+offset". Frames are named with addr2line (the program's own, built with line
tables) or, in a library without them, with the nearest exported symbol below (marked "~", and
only a hint). The allocators themselves (malloc, operator new, the toolkit's array and region
growth) are passed over, so that a site is where the program or the toolkit asked for memory.
--per divides the counts, e.g. by the exchanges of the window, to give allocations per exchange.
"""
import argparse
import bisect
import collections
import re
import subprocess

ALLOCATORS = re.compile(
    r"^~?(operator new|malloc|calloc|realloc|g_malloc|g_realloc|g_slice|QArrayData|"
    r"QtPrivate::Q\w+ArrayOps|QArrayDataPointer|QString::(reallocData|resize)|"
    r"QByteArray::(reallocData|resize)|QList|QVector|std::)")


def exported_symbols(library):
    out = subprocess.run(["nm", "-D", "-C", "--defined-only", library],
                         capture_output=True, text=True).stdout
    symbols = []
    for line in out.splitlines():
        parts = line.split(" ", 2)
        if len(parts) == 3 and parts[1] in "TtWw":
            symbols.append((int(parts[0], 16), parts[2]))
    symbols.sort()
    return [a for a, _ in symbols], [n for _, n in symbols]


def name_frames(stacks):
    offsets = collections.defaultdict(set)
    for stack in stacks:
        for frame in stack:
            library, offset = frame.rsplit("+", 1)
            offsets[library].add(offset)
    names = {}
    for library, wanted in offsets.items():
        wanted = sorted(wanted)
        if library == "?":
            names.update({(library, o): "?" for o in wanted})
            continue
        lines = subprocess.run(["addr2line", "-f", "-C", "-e", library] + ["0x" + o for o in wanted],
                               capture_output=True, text=True).stdout.splitlines()
        addresses, symbols = exported_symbols(library)
        for i, offset in enumerate(wanted):
            name = lines[2 * i] if 2 * i < len(lines) else "??"
            if name == "??" and addresses:
                j = bisect.bisect_right(addresses, int(offset, 16)) - 1
                name = "~" + symbols[j] if j >= 0 else "??"
            names[(library, offset)] = name
    return names


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("file")
    parser.add_argument("--per", type=float, default=1.0, help="divide every count by this")
    parser.add_argument("--depth", type=int, default=4, help="frames shown of each site")
    parser.add_argument("--top", type=int, default=30, help="sites shown")
    parser.add_argument("--grep", default="", help="only stacks with a frame containing this")
    args = parser.parse_args()

    with open(args.file) as f:
        stacks = [line.split() for line in f if line.strip()]
    names = name_frames(stacks)
    sites = collections.Counter()
    for stack in stacks:
        frames = [names[tuple(frame.rsplit("+", 1))] for frame in stack]
        if args.grep and not any(args.grep in n for n in frames):
            continue
        k = 0
        while k < len(frames) - 1 and ALLOCATORS.match(frames[k]):
            k += 1
        sites[" <- ".join(n[:90] for n in frames[k:k + args.depth])] += 1
    total = sum(sites.values())
    print(f"{total / args.per:.1f} allocations" + (f" per {args.per:g}" if args.per != 1.0 else ""))
    for site, count in sites.most_common(args.top):
        print(f"{count / args.per:8.2f} {100.0 * count / max(total, 1):5.1f}%  {site}")


if __name__ == "__main__":
    main()
