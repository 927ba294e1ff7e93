#!/usr/bin/python3
"""Makes a synthetic photo library for measuring `evgpack build` on large folders.

Each photo is a random crop of a real photo (flipped or not, colours shifted, 800-4,000 pixels
on its longer side, JPEG or PNG) in nested year/event folders; about a fifth are planted
near-duplicates of another photo of the library (resized, recompressed at another quality, cut
by 3%, or exposed +-10%). planted.json lists each planted copy with its original, and
--distinct DIR writes every source photo once (for counting false groups).

Only the planted copies may be near-duplicates: two crops of one plain sky, or one source shipped
twice at two sizes, would be the same picture to the eye, so a grouping that joins them would be
right and still be scored wrong. The square centre of every unplanted photo (what the pack build
sees) and every source are therefore compared as 32 x 32 thumbnails, once as they are and once
with both brought to one mean brightness (a re-exposed copy is a near-duplicate too); a photo
closer than ALIKE to an earlier one (mean difference per channel, of 255) is made again from
another random crop, and an alike source is left out.

usage: make_library.py OUT COUNT SOURCE_DIR... [--seed N] [--distinct DIR] [--add N] [--min-side PX]
       make_library.py --score OUT REPORT.json   (near-duplicate precision and recall of an
                                                  `evgpack build --report` against planted.json)
needs python3-pil and python3-numpy (scripts/packages-library.txt); run with the system python3.
"""
import argparse
import hashlib
import json
import os
import random
import sys
from multiprocessing import Pool

import numpy as np
from PIL import Image, ImageOps

DUPLICATE_SHARE = 0.2
MIN_SOURCE_SIDE = 400  # default; --min-side 200 also takes small photos of single objects
ALIKE = 6.0          # photos closer than this (mean of 255 per channel) count as the same picture
EXPOSURE = 1.25     # brightness ratio up to which two photos are also compared at one brightness
REMAKE_ROUNDS = 8    # tries to replace an alike photo by another crop


def thumb(im):
    """The square centre of a picture as 32 x 32 x 3 floats."""
    w, h = im.size
    s = min(w, h)
    sq = im.crop(((w - s) // 2, (h - s) // 2, (w - s) // 2 + s, (h - s) // 2 + s))
    return np.asarray(sq.resize((32, 32), Image.BOX), dtype=np.float32).reshape(-1)


def alike_pairs(thumbs, fresh):
    """Pairs (i, j), i < j, j in fresh, of thumbnails closer than ALIKE as they are or at one mean
    brightness. Means over 4 x 4 cells can only be closer than the whole thumbnails, so they pick
    the few pairs worth comparing in full."""
    t = np.stack(thumbs)
    means = t.mean(axis=1, keepdims=True)
    level = t * (128.0 / np.maximum(means, 1.0))
    def cells(a):
        return a.reshape(-1, 4, 8, 4, 8, 3).mean(axis=(2, 4)).reshape(len(a), -1)
    coarse, coarse_level = cells(t), cells(level)
    out = set()
    m = means[:, 0]
    for j in sorted(fresh):
        # one brightness only within what +-10% exposure (and a little more) gives
        exposure = np.maximum(m, m[j]) <= EXPOSURE * np.minimum(m, m[j])
        near = (np.abs(coarse - coarse[j]).mean(axis=1) < ALIKE) | \
               (exposure & (np.abs(coarse_level - coarse_level[j]).mean(axis=1) < ALIKE))
        near[j] = False
        for i in np.nonzero(near)[0]:
            if i in fresh and i > j:
                continue  # (j, i) is looked at from i
            if np.abs(t[i] - t[j]).mean() < ALIKE or (exposure[i] and np.abs(level[i] - level[j]).mean() < ALIKE):
                out.add((min(i, j), max(i, j)))
    return out


def sources(dirs, min_side):
    seen, out = set(), []
    for d in dirs:
        for root, _, names in sorted(os.walk(d)):
            for n in sorted(names):
                if not n.lower().endswith((".jpg", ".jpeg", ".png")):
                    continue
                p = os.path.join(root, n)
                try:
                    with Image.open(p) as im:
                        if min(im.size) < min_side:
                            continue
                    digest = hashlib.sha1(open(p, "rb").read()).hexdigest()
                except Exception:
                    continue
                if digest not in seen:
                    seen.add(digest)
                    out.append(p)
    thumbs = [thumb(load(p)) for p in out]
    drop = {j for _, j in alike_pairs(thumbs, set(range(len(out))))}
    if drop:
        print(f"{len(drop)} source photos left out as alike to another", file=sys.stderr)
    return [p for k, p in enumerate(out) if k not in drop]


def load(path):
    with Image.open(path) as im:
        return ImageOps.exif_transpose(im).convert("RGB")


_last_source = [None, None]


def load_source(path):
    """The workers get the photos of one source one after another: decode it once."""
    if _last_source[0] != path:
        _last_source[:] = [path, load(path)]
    return _last_source[1]


def save(im, path, rng_seed, quality=None):
    rng = random.Random(rng_seed)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    if path.endswith(".png"):
        im.save(path, compress_level=1)
    else:
        im.save(path, quality=quality or rng.randint(70, 95))


def make_variant(task):
    """A new photo: crop, flip, colour shift, size. Returns its thumbnail."""
    out, source, seed = task
    rng = random.Random(seed)
    im = load_source(source)
    w, h = im.size
    aspect = rng.choice([4 / 3, 3 / 2, 1.0, 3 / 4, 2 / 3, 16 / 9])
    frac = rng.uniform(0.4, 0.85)
    cw = min(w, int(frac * min(w, h * aspect)))
    ch = min(h, int(cw / aspect))
    x, y = rng.randint(0, w - cw), rng.randint(0, h - ch)
    im = im.crop((x, y, x + cw, y + ch))
    if rng.random() < 0.5:
        im = ImageOps.mirror(im)
    gains = [rng.uniform(0.75, 1.25) for _ in range(3)]
    im = Image.merge("RGB", [band.point(lambda v, g=g: min(255, int(v * g))) for band, g in zip(im.split(), gains)])
    longer = rng.randint(800, 4000) if out.endswith(".jpg") else rng.randint(800, 1600)
    scale = longer / max(im.size)
    im = im.resize((max(1, round(im.size[0] * scale)), max(1, round(im.size[1] * scale))), Image.BILINEAR)
    save(im, out, seed)
    return thumb(im)


def make_copy(task):
    """A planted near-duplicate of an existing photo."""
    out, original, kind, seed = task
    rng = random.Random(seed)
    im = load(original)
    w, h = im.size
    quality = None
    if kind == "resize":
        s = rng.uniform(0.5, 0.8)
        im = im.resize((round(w * s), round(h * s)), Image.LANCZOS)
    elif kind == "recompress":
        quality = rng.choice([55, 65, 75, 90])
    elif kind == "crop":
        dx, dy = round(w * 0.015), round(h * 0.015)
        im = im.crop((dx, dy, w - dx, h - dy))
    else:  # exposure +-10%
        g = rng.choice([0.9, 1.1])
        im = im.point(lambda v: min(255, int(v * g)))
    save(im, out, seed, quality)
    return out


def score(out, report_path):
    """Pairs in one group that come from one original are right; planted pairs not in one group
    are missed. A byte-identical copy (two copies recompressed alike) belongs to its file's group."""
    planted = json.load(open(os.path.join(out, "planted.json")))
    inputs = json.load(open(report_path))["inputs"]
    of = {i["file"]: i["of"] for i in inputs if i["outcome"] in ("near-duplicate", "duplicate")}
    group = {}
    for i in inputs:
        f = i["file"]
        while f in of:
            f = of[f]
        group[i["file"]] = f
    members = {}
    for f, g in group.items():
        members.setdefault(g, []).append(f)
    family = lambda f: planted.get(f, f)
    right = wrong = 0
    for m in members.values():
        for a in range(len(m)):
            for b in range(a + 1, len(m)):
                if family(m[a]) == family(m[b]):
                    right += 1
                else:
                    wrong += 1
    found = sum(1 for c, o in planted.items() if c in group and o in group and group[c] == group[o])
    groups = sum(1 for m in members.values() if len(m) > 1)
    print(f"groups {groups}, pairs in groups {right + wrong} ({wrong} wrong), planted {len(planted)}, found {found}")
    print(f"precision {right / max(1, right + wrong):.4f} recall {found / max(1, len(planted)):.4f}")


def main():
    if len(sys.argv) == 4 and sys.argv[1] == "--score":
        return score(sys.argv[2], sys.argv[3])
    ap = argparse.ArgumentParser()
    ap.add_argument("out")
    ap.add_argument("count", type=int)
    ap.add_argument("sources", nargs="+")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--distinct")
    ap.add_argument("--add", type=int, default=0, help="add N new photos to an existing library")
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--min-side", type=int, default=MIN_SOURCE_SIDE,
                    help="smallest shorter side of a source photo (its crops are scaled up to 800-4,000 px)")
    a = ap.parse_args()
    a.out = os.path.abspath(a.out)  # full names in planted.json, as a --report given OUT in full
    src = sources(a.sources, a.min_side)
    print(f"{len(src)} distinct source photos", file=sys.stderr)
    rng = random.Random(a.seed + 1000 * a.add)
    with Pool(a.jobs) as pool:
        if a.distinct:
            tasks = [(os.path.join(a.distinct, f"{i:04d}.jpg"), p) for i, p in enumerate(src)]
            pool.map(distinct_copy, tasks)
        if a.add:
            tasks = [(os.path.join(a.out, "added", f"NEW_{i:04d}.jpg"), src[rng.randrange(len(src))],
                      rng.randrange(1 << 30)) for i in range(a.add)]
            pool.map(make_variant, tasks)
            return
        originals = int(round(a.count * (1 - DUPLICATE_SHARE)))
        order = list(range(len(src)))
        rng.shuffle(order)
        tasks, names = [], []
        for i in range(originals):
            year = 2010 + rng.randrange(8)
            event = f"{rng.randrange(1, 13):02d}-event{rng.randrange(20):02d}"
            ext = ".png" if rng.random() < 0.2 else ".jpg"
            name = os.path.join(a.out, str(year), event, f"IMG_{i:05d}{ext}")
            names.append(name)
            tasks.append((name, src[order[i % len(order)]], rng.randrange(1 << 30)))
        thumbs = make_distinct(pool, tasks, src, rng)
        planted, copies = {}, []
        for i in range(a.count - originals):
            original = names[rng.randrange(len(names))]
            kind = rng.choice(["resize", "recompress", "crop", "exposure"])
            year = 2010 + rng.randrange(8)
            name = os.path.join(a.out, str(year), "edits", f"COPY_{i:05d}_{kind}.jpg")
            copies.append((name, original, kind, rng.randrange(1 << 30)))
            planted[name] = original
        pool.map(make_copy, copies, chunksize=8)
    with open(os.path.join(a.out, "planted.json"), "w") as f:
        json.dump(planted, f, indent=0)


def make_distinct(pool, tasks, sources, rng):
    """Makes every task's photo, then makes again (another seed) each one alike to an earlier
    photo, until none is or REMAKE_ROUNDS have passed; returns the thumbnails."""
    by_source = sorted(range(len(tasks)), key=lambda k: (tasks[k][1], k))
    thumbs = [None] * len(tasks)
    fresh = set(range(len(tasks)))
    for round_ in range(REMAKE_ROUNDS + 1):
        todo = [k for k in by_source if k in fresh]
        for k, t in zip(todo, pool.imap(make_variant, [tasks[k] for k in todo], chunksize=4)):
            thumbs[k] = t
        alike = alike_pairs(thumbs, fresh)
        fresh = {j for _, j in alike}
        print(f"round {round_}: {len(todo)} made, {len(fresh)} alike to an earlier one", file=sys.stderr)
        if not fresh or round_ == REMAKE_ROUNDS:
            break
        for k in fresh:  # after two tries the source may have nothing else to give: take any
            source = tasks[k][1] if round_ < 2 else sources[rng.randrange(len(sources))]
            tasks[k] = (tasks[k][0], source, rng.randrange(1 << 30))
    return thumbs


def distinct_copy(task):
    out, source = task
    im = load(source)
    s = 1024 / max(im.size)
    im = im.resize((round(im.size[0] * s), round(im.size[1] * s)), Image.BILINEAR)
    save(im, out, 0, 90)


if __name__ == "__main__":
    main()
