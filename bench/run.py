#!/usr/bin/env python3
"""Benchmark: impx against GNU tar extracting the same output trees, cp of the book, and a floor
of one open, one write and one close per file.

    python3 bench/run.py [--rounds N] [--dir DIR] [--build DIR] [--against IMPX]
                                                  (after `cmake --workflow --preset bench`)

Books (made by the project's writer): large-4 (4 resources of 64 MiB), large-1 (1 of 64 MiB),
small-20000 and small-2000 (200 to 1,200 bytes each, distinct type codes), and library: 1,000
books of 5 to 40 resources of 100 bytes to 40 KiB, unpacked by one `impx book-*.imp`. For each book, after
one warm-up round, N counted rounds run every program once, into a fresh output, in an order
that rotates from round to round. Books, archives and outputs live in DIR, by default in memory
(/dev/shm), where a run costs what the program does rather than what the disk's journal is
doing at the time. Each run is started from a small launcher (measure), so that
peak resident memory is the program's own. --against adds another impx (an earlier build, say) to
the same rounds, so that the two are compared on one machine at one time."""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))


def measure(build, command, cwd):
    out = subprocess.run([os.path.join(build, "bench", "impx_bench_measure")] + command,
                         cwd=cwd, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                         check=True).stdout.split()
    wall, user, system, rss_kib, status = float(out[0]), float(out[1]), float(out[2]), int(out[3]), int(out[4])
    if status != 0:
        sys.exit(f"{command[0]} failed with status {status} in {cwd}")
    return {"wall": wall, "cpu": user + system, "rss": rss_kib}


def place(book, folder):
    """`book` in `folder`: hard-linked, or copied where the file system has no links (FAT, exFAT)."""
    try:
        os.link(book, os.path.join(folder, os.path.basename(book)))
    except PermissionError:
        shutil.copyfile(book, os.path.join(folder, os.path.basename(book)))


def prepare(build, data, name, books):
    """A tar archive of the output trees of `books` and the floor's list of file sizes."""
    tree = os.path.join(data, name + ".tree")
    shutil.rmtree(tree, ignore_errors=True)
    os.mkdir(tree)
    for book in books:
        place(book, tree)
    subprocess.run([os.path.join(build, "impx")] + [os.path.basename(b) for b in books], cwd=tree,
                   check=True, stdin=subprocess.DEVNULL)
    for book in books:
        os.unlink(os.path.join(tree, os.path.basename(book)))
    archive = os.path.join(data, name + ".tar")
    subprocess.run(["tar", "-cf", archive, "-C", tree] + sorted(os.listdir(tree)), check=True)
    sizes = os.path.join(data, name + ".sizes")
    with open(sizes, "w") as out:
        for output in sorted(os.listdir(tree)):
            for entry in sorted(os.listdir(os.path.join(tree, output))):
                out.write(f"{entry} {os.path.getsize(os.path.join(tree, output, entry))}\n")
    shutil.rmtree(tree)
    return archive, sizes


def run_round(build, data, name, programs, order):
    results = {}
    os.sync()
    for label in order:
        target = tempfile.mkdtemp(dir=data, prefix="run-")
        command = programs[label](target)
        results[label] = measure(build, command, target)
        shutil.rmtree(target)  # not timed
        # The file system's deferred work for the files just removed (and written) is done
        # before the next run starts, so that no run pays for the one before it.
        os.sync()
    return results


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--keep", action="store_true", help="keep the books for the next run")
    parser.add_argument("--books", default="large-4,large-1,small-20000,small-2000,library")
    parser.add_argument("--build", default=os.path.join(HERE, "..", "build", "bench"))
    parser.add_argument("--against", help="another impx to run in the same rounds, as 'before'")
    parser.add_argument("--dir", default="/dev/shm/impx-bench" if os.path.isdir("/dev/shm")
                        else os.path.join(HERE, "..", "build", "bench", "data"))
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    data = os.path.abspath(args.dir)
    os.makedirs(data, exist_ok=True)
    if not os.path.exists(os.path.join(data, "library", "book-0999.imp")):
        subprocess.run([os.path.join(build, "bench", "impx_bench_books"), data], check=True)

    impx = os.path.join(build, "impx")
    floor = os.path.join(build, "bench", "impx_bench_floor")
    print(f"in {data}; rounds: {args.rounds} counted after 1 warm-up; ratios are impx / baseline "
          "(below 1, impx is faster); memory is peak resident KiB")
    summary = {}
    cases = [("large-4", 4, 256), ("large-1", 1, 64), ("small-20000", 20000, None),
             ("small-2000", 2000, None), ("library", None, None)]
    for name, resources, mib in cases:
        if name not in args.books.split(","):
            continue
        if name == "library":
            library = os.path.join(data, "library")
            books = [os.path.join(library, b) for b in sorted(os.listdir(library))]
        else:
            books = [os.path.join(data, name + ".imp")]
        archive, sizes = prepare(build, data, name, books)

        def run_impx(target, books=books, program=impx):
            for book in books:
                place(book, target)
            return [program] + [os.path.basename(book) for book in books]

        programs = {
            "impx": run_impx,
            "tar": lambda target, archive=archive: ["tar", "-x", "-m", "--no-same-owner",
                                                     "--no-same-permissions", "-f", archive],
        }
        if args.against:
            programs["before"] = lambda target, against=os.path.abspath(args.against): run_impx(
                target, program=against)
        if mib:
            programs["cp"] = lambda target, book=books[0]: ["cp", book, "copy.imp"]
        elif resources:
            programs["floor"] = lambda target, sizes=sizes, name=name: [floor, sizes, name]
        labels = list(programs)
        run_round(build, data, name, programs, labels)  # warm-up
        rounds = []
        for r in range(args.rounds):
            order = labels[r % len(labels):] + labels[:r % len(labels)]
            rounds.append(run_round(build, data, name, programs, order))

        size_mib = sum(os.path.getsize(book) for book in books) / 2**20
        what = f"{len(books)} books" if len(books) > 1 else f"{resources} resources, book"
        print(f"\n{name}: {what} {size_mib:.1f} MiB")
        impx_wall = statistics.median(r["impx"]["wall"] for r in rounds)
        for label in labels:
            walls = [r[label]["wall"] for r in rounds]
            rss = max(r[label]["rss"] for r in rounds)
            line = f"  {label:6} wall median {statistics.median(walls) * 1000:8.2f} ms  peak {rss:6d} KiB"
            if mib:
                line += f"  {size_mib / statistics.median(walls):8.0f} MiB/s"
            print(line)
        for label in labels[1:]:
            for what in ("wall", "cpu"):
                ratios = sorted(r["impx"][what] / r[label][what] for r in rounds
                                if r[label][what] > 0)
                print(f"  impx/{label:5} {what:4}: median {statistics.median(ratios):.3f}"
                      f"  range {ratios[0]:.3f} .. {ratios[-1]:.3f}")
        summary[name] = (impx_wall, resources, size_mib)

    if not args.keep:
        shutil.rmtree(data)
    if not all(name in summary for name in ("large-1", "large-4", "small-2000", "small-20000")):
        return
    print("\nlinearity (impx wall time):")
    l1, l4 = summary["large-1"], summary["large-4"]
    print(f"  large: {l1[0] / l1[2] * 1000:.3f} ms/MiB at 1 resource, "
          f"{l4[0] / l4[2] * 1000:.3f} ms/MiB at 4")
    s2, s20 = summary["small-2000"], summary["small-20000"]
    print(f"  small: {s2[0] / s2[1] * 1e6:.2f} us/resource at 2,000, "
          f"{s20[0] / s20[1] * 1e6:.2f} us/resource at 20,000")


if __name__ == "__main__":
    main()
