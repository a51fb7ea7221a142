"""Loads a tidy export with pandas and checks its times and values against the data log.

Usage: check_tidy_export.py LOG.csv TIDY.csv
"""
import datetime
import sys

import pandas as pd


def main(log_path, tidy_path):
    with open(log_path, newline="") as f:
        lines = f.read().replace("\r\n", "\n").split("\n")
    start = next(i for i, l in enumerate(lines) if l.startswith("Data logging started at "))
    stamp = lines[start][len("Data logging started at "):].strip()
    day, clock = stamp.split(" ")
    month, mday, year = (int(x) for x in day.split("/"))
    h, m, s = (int(x) for x in clock.split(":"))
    date = datetime.date(year, month, mday)
    prev = h * 3600 + m * 60 + s
    rows = [l.split(",") for l in lines[start + 1:] if l[:1].isdigit()]
    columns = lines[start - 1].split(",")[1:]

    df = pd.read_csv(tidy_path, parse_dates=["time"], float_precision="round_trip")
    assert str(df["time"].dtype).startswith("datetime64[ns, "), df["time"].dtype
    assert len(df) == len(rows), (len(df), len(rows))
    assert len(df.columns) == 1 + len(columns), list(df.columns)
    for i, (row, t) in enumerate(zip(rows, df["time"])):
        if "T" in row[0]:
            assert t == pd.Timestamp(row[0]), (i, t, row[0])
        else:
            h, m, s = (int(x) for x in row[0].split(":"))
            tod = h * 3600 + m * 60 + s
            if tod < prev:
                date += datetime.timedelta(days=1)
            prev = tod
            wall = datetime.datetime.combine(date, datetime.time(h, m, s))
            assert t.to_pydatetime().replace(tzinfo=None) == wall, (i, t, wall)
            assert t.utcoffset() == wall.astimezone().utcoffset(), (i, t)
        for j, text in enumerate(row[1:]):
            got = df.iloc[i, 1 + j]
            assert float(text) == got, (i, j, text, got)
    print("ok", len(rows))


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
