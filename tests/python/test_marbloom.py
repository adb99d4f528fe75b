# The module reads what `marbloom-cli ... show --csv` prints, value for value,
# and fails as it does.
import csv
import io
import os
import subprocess
import threading

import pandas as pd
import pytest

import marbloom

SHOW = {"daily": ["daily", "show"], "1min": ["minutes", "show", "--kind", "1"],
        "5min": ["minutes", "show", "--kind", "5"], "ticks": ["tick", "show"]}
# A stock, an index, a repo (lot-form volumes), a Beijing security.
CODES = ["sz000032", "sh000568", "sh204567", "bj430494"]


def read(tree, kind, code, start=None, end=None, as_array=False):
    if kind == "daily":
        return tree.daily(code, start, end, as_array=as_array)
    if kind == "ticks":
        return tree.ticks(code, start, end, as_array=as_array)
    return tree.minutes(code, int(kind[0]), start, end, as_array=as_array)


def show_csv(sample, kind, code, start=None, end=None):
    dates = (["--from", start] if start else []) + (["--to", end] if end else [])
    return sample.cli(*SHOW[kind], code, "--csv", *dates)


def as_csv(kind, frame):
    """The frame's rows as show --csv writes them."""
    rows = []
    for stamp, row in frame.iterrows():
        line = [stamp.strftime("%Y-%m-%d")]
        if kind != "daily":
            line.append(stamp.strftime("%H:%M:%S" if kind == "ticks" else "%H:%M"))
        for name, value in row.items():
            line.append("%.2f" % value if name == "amount" else value)
        rows.append(line)
    return rows


@pytest.mark.parametrize("kind", list(SHOW))
@pytest.mark.parametrize("code", CODES)
@pytest.mark.parametrize("start,end", [(None, None), ("20240103", "20240103")])
def test_frame_is_show_csv(sample, kind, code, start, end):
    shown = list(csv.reader(io.StringIO(show_csv(sample, kind, code, start, end).stdout)))
    frame = read(marbloom.open(sample.work), kind, code, start, end)
    assert list(frame.columns) == [c for c in shown[0] if c not in ("date", "time")]
    assert len(shown) > 1
    for ours, theirs in zip(as_csv(kind, frame), shown[1:], strict=True):
        assert [type(v)(t) if not isinstance(v, str) else t for v, t in zip(ours, theirs)] == ours
    records = read(marbloom.open(sample.work), kind, code, start, end, as_array=True)
    assert list(records.dtype.names) == [frame.index.name] + list(frame.columns)
    assert (records[frame.index.name] == frame.index.values).all()
    for name in frame.columns:
        assert (records[name] == (frame[name].cat.codes if name == "flag" else frame[name])).all()


def plain(frame):
    frame = frame.reset_index()
    return frame.astype({name: str for name in frame.columns if name in ("code", "flag")})


@pytest.mark.parametrize("kind,codes", [("daily", None), ("1min", "sz??????"), ("5min", CODES), ("ticks", CODES[:2])])
def test_market_is_securities_concatenated(sample, kind, codes):
    tree = marbloom.open(sample.history)
    market = tree.market(kind, codes, start="20240103")
    stems = codes if isinstance(codes, list) else tree.securities(kind, codes)
    one = {code: read(tree, kind, code, "20240103") for code in stems}
    expected = pd.concat(one.values(), keys=one.keys(), names=["code"]).fillna(0)[market.columns]
    pd.testing.assert_frame_equal(plain(market), plain(expected), check_dtype=False)
    records = tree.market(kind, codes, start="20240103", as_array=True)
    assert list(records["code"]) == list(market.index.get_level_values("code"))
    assert (records["close" if kind != "ticks" else "price"] == market.iloc[:, 3 if kind != "ticks" else 0]).all()


@pytest.mark.parametrize("kind,path", [("daily", "sz/lday/sz000032.day"), ("5min", "sz/fzline/sz000032.5"),
                                       ("ticks", "newtick/sz000032.vid")])
def test_market_leaves_out_empty_files_unless_named(scratch, kind, path):
    open(scratch.history + path, "w").close()
    tree = marbloom.open(scratch.work)
    codes = tree.securities(kind)
    assert "sz000032" not in codes
    market = tree.market(kind, start="20240104")
    assert list(market.index.levels[0]) == codes
    assert market.index.get_level_values("code").equals(
        tree.market(kind, codes, start="20240104").index.get_level_values("code"))
    with pytest.raises(marbloom.DataError):
        tree.market(kind, ["sz000032"])


@pytest.mark.parametrize("kind", list(SHOW))
def test_a_range_without_records_gives_them_empty(sample, kind):
    tree = marbloom.open(sample.work)
    frame = read(tree, kind, CODES[0], "20240105", "20240105")
    records = read(tree, kind, CODES[0], "20240105", "20240105", as_array=True)
    assert len(frame) == len(records) == 0
    assert list(records.dtype.names) == [frame.index.name] + list(frame.columns)


def damage_daily(history):
    with open(history + "sz/lday/sz000032.day", "ab") as day:
        day.write(b"\x01\x02\x03")


def damage_ticks(history):
    os.truncate(history + "newtick/sz000032.vtc", 100)


@pytest.mark.parametrize("kind,damage", [("daily", damage_daily), ("ticks", damage_ticks)])
def test_damaged_file_raises_its_message(scratch, kind, damage):
    damage(scratch.history)
    shown = show_csv(scratch, kind, "sz000032")
    with pytest.raises(marbloom.DataError) as raised:
        read(marbloom.open(scratch.work), kind, "sz000032")
    assert shown.returncode == 1 and str(raised.value) in shown.stderr


@pytest.mark.parametrize("error,call", [
    (ValueError, lambda t: t.daily("sz000032", start="2024-02-30")),
    (ValueError, lambda t: t.daily("sz000032", start="yesteryear")),
    (ValueError, lambda t: t.daily("sz000032", start=20240104, end=20240102)),
    (ValueError, lambda t: t.market("daily", codes="sz0000")),
    (ValueError, lambda t: t.daily("xx000032")),
    (KeyError, lambda t: t.daily("sz999999")),
    (KeyError, lambda t: t.market("ticks", codes=["sz000032", "sz999999"])),
])
def test_bad_request_raises(sample, error, call):
    with pytest.raises(error):
        call(marbloom.open(sample.work))


def test_open_finds_the_tree_a_work_directory_names(sample, monkeypatch):
    assert marbloom.open(sample.work).history_dir == sample.history
    monkeypatch.chdir(sample.work)
    assert marbloom.open().history_dir == sample.history
    with pytest.raises(FileNotFoundError):
        marbloom.open(sample.work + "/missing")


def test_reads_while_a_day_converts_see_the_old_or_the_new_files(scratch):
    tree = marbloom.open(scratch.work)
    old = tree.market("daily", CODES)
    scratch.add_day("20240105")
    writer = subprocess.Popen([os.environ["MARBLOOM_CLI"], "-q", "-C", scratch.work, "daily", "convert",
                               "--from", "20240105", "--to", "20240105"], stdout=subprocess.DEVNULL)
    seen = []

    def keep_reading():
        while True:
            done = writer.poll() is not None
            seen.append(tree.market("daily", CODES))
            if done:
                return

    readers = [threading.Thread(target=keep_reading) for _ in range(2)]
    for reader in readers:
        reader.start()
    for reader in readers:
        reader.join()
    assert writer.returncode == 0
    new = tree.market("daily", CODES)
    assert len(new) == len(old) + len(CODES)
    for frame in seen:
        for code in CODES:
            assert frame.loc[code].equals(old.loc[code]) or frame.loc[code].equals(new.loc[code])
