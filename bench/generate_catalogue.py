#!/usr/bin/env python3
"""Writes a synthetic catalogue file: generate_catalogue.py OUT [RECORDS] [--utf8-names FILE]

Chinese (with Traditional, polyphonic and rare characters mixed in) and Latin names, numbered
and plain, in realistic nested folders; the same format
the program writes (UTF-16LE with BOM, CRLF, heading line, nine TAB-separated fields).
With --utf8-names, also writes the filenamewithno and pinyinma columns as UTF-8 lines
(for comparing with text-search tools)."""
import random
import sys

HANZI = ("我的爱人你是心中月亮花开太阳天空大海小城故事朋友回家时间青春梦想快乐伤心雨夜星光"
         "思念远方草原春天秋风情歌红豆明天相信未来美丽世界一生等待离别温柔眼泪童年老街山河"
         "长江白云飞鸟江南烟雨父亲母亲姑娘少年征程千里故乡歌声灯火")
# Mixed into names: Traditional characters, polyphones whose readings differ in their
# initial, and rare ideographs of extensions A and B.
MIXED = ("愛後來聽海茉莉阙歌燈話說夢樂長經飛鳥雲"
         "乐长行重朝觉传藏会还和曲便将调"
         "㐀㑇㒳㔾㗊𠀀𠀁𠂉𠃌𠈌")
LATIN = ["love", "song", "night", "dream", "rain", "star", "heart", "road", "home", "blue",
         "summer", "fire", "dance", "river", "moon", "light", "remix", "live", "DJ", "MTV"]
EXTS = [".mp3"] * 12 + [".wma"] * 3 + [".mp4"] * 3 + [".jpg"] * 4 + [".avi", ".rmvb", ".3gp", ".gif"]
BOUNDARIES = [(0xD4D1, "z"), (0xD1B9, "y"), (0xCEF4, "x"), (0xCDDA, "w"), (0xCBFA, "t"),
              (0xC8F6, "s"), (0xC8BB, "r"), (0xC6DA, "q"), (0xC5BE, "p"), (0xC5B6, "o"),
              (0xC4C3, "n"), (0xC2E8, "m"), (0xC0AC, "l"), (0xBFA6, "k"), (0xBBF7, "j"),
              (0xB9FE, "h"), (0xB8C1, "g"), (0xB7A2, "f"), (0xB6EA, "e"), (0xB4EE, "d"),
              (0xB2C1, "c"), (0xB0C5, "b"), (0xB0A2, "a")]


def initials(text):
    out = []
    for ch in text:
        try:
            b = ch.encode("gb2312")
        except UnicodeEncodeError:
            out.append(ch)
            continue
        code = b[0] << 8 | b[1] if len(b) == 2 else ord(ch)
        if code < 0xB0A2 or code > 0xD7F9:
            out.append(ch)
            continue
        out.append(next(letter for bound, letter in BOUNDARIES if bound <= code))
    return "".join(out)


def main():
    args = [a for a in sys.argv[1:] if not a.startswith("--")]
    out_path = args[0]
    count = int(args[1]) if len(args) > 1 else 1_000_000
    utf8_path = None
    if "--utf8-names" in sys.argv:
        utf8_path = sys.argv[sys.argv.index("--utf8-names") + 1]
        args = [a for a in args if a != utf8_path]
    rnd = random.Random(20261208)
    folders = []
    for disk in range(1, 4):
        for top in ("##歌曲", "##电影", "##图片", "music"):
            for artist in range(60):
                name = "".join(rnd.choice(HANZI) for _ in range(rnd.randint(2, 3)))
                folders.append(f"/media/disk{disk}/{top}/{name}{artist}/")
    lines = ["machineid\tfilename\tfileext\tcreatedate\tfilepath\tpinyinma\tfilesizedec\tsourceid\tfilenamewithno"]
    utf8 = []
    folder = rnd.choice(folders)
    for i in range(1, count + 1):
        if rnd.random() < 0.05:
            folder = rnd.choice(folders)
        if rnd.random() < 0.7:
            name = "".join(rnd.choice(MIXED) if rnd.random() < 0.15 else rnd.choice(HANZI)
                           for _ in range(rnd.randint(2, 8)))
            if rnd.random() < 0.3:
                name += " " + rnd.choice(LATIN)
        else:
            name = " ".join(rnd.choice(LATIN) for _ in range(rnd.randint(1, 4)))
        number = 0
        withno = name
        if rnd.random() < 0.6:
            number = rnd.randint(1, 99999)
            withno = f"{number}@{name}"
        ext = rnd.choice(EXTS)
        size = rnd.randint(0, 800 * 1048576) / 1048576
        date = (f"{rnd.randint(2005, 2026):04d}-{rnd.randint(1, 12):02d}-{rnd.randint(1, 28):02d} "
                f"{rnd.randint(0, 23):02d}:{rnd.randint(0, 59):02d}:{rnd.randint(0, 59):02d}")
        fields = [str(i), name, ext, date, folder + withno + ext, initials(name), f"{size:.2f}",
                  str(number), withno]
        lines.append("\t".join(fields))
        if utf8_path:
            utf8.append(withno + "\t" + fields[5])
    with open(out_path, "wb") as f:
        f.write(b"\xff\xfe")
        f.write(("\r\n".join(lines) + "\r\n").encode("utf-16-le"))
    if utf8_path:
        with open(utf8_path, "w", encoding="utf-8") as f:
            f.write("\n".join(utf8) + "\n")


if __name__ == "__main__":
    main()
