# SPDX-License-Identifier: Apache-2.0
"""Loads a COMTRADE (1991, ASCII) configuration and data file pair the way an
independent reader does and prints a one-line summary; fails on any mismatch."""
import datetime
import sys


def lines(path):
    data = open(path, "rb").read()
    assert data.endswith(b"\r\n"), "last line not ended by CR LF"
    parts = data.split(b"\r\n")[:-1]
    assert all(b"\n" not in p and b"\r" not in p for p in parts), "bare line end"
    return [p.decode("gbk") for p in parts]


def main(base):
    cfg = lines(base + ".CFG")
    station, _device = cfg[0].split(",")
    total, analog, digital = cfg[1].split(",")
    assert analog.endswith("A") and digital.endswith("D")
    na, nd = int(analog[:-1]), int(digital[:-1])
    assert int(total) == na + nd
    row = 2
    for i in range(na):
        fields = cfg[row + i].split(",")
        assert len(fields) == 10, fields
        # index, then multiplier, offset and skew, then the sample limits
        int(fields[0])
        float(fields[5]), float(fields[6]), float(fields[7])
        assert int(fields[8]) <= int(fields[9]), fields
    row += na
    for i in range(nd):
        fields = cfg[row + i].split(",")
        assert len(fields) == 3, fields
        int(fields[0])
        assert int(fields[2]) in (0, 1), fields
    row += nd
    float(cfg[row])
    nrates = int(cfg[row + 1])
    rate, last = cfg[row + 2].split(",")
    float(rate)
    row += 2 + nrates
    stamps = [datetime.datetime.strptime(t, "%m/%d/%Y,%H:%M:%S.%f") for t in cfg[row:row + 2]]
    assert cfg[row + 2].upper() == "ASCII"
    assert len(cfg) == row + 3

    dat = lines(base + ".DAT")
    assert len(dat) == int(last), (len(dat), last)
    for k, line in enumerate(dat):
        fields = [int(f) for f in line.split(",")]
        assert len(fields) == 2 + na + nd and fields[0] == k + 1
    print("station=%s analog=%d digital=%d samples=%d start=%s"
          % (station, na, nd, len(dat), stamps[0].isoformat()))


if __name__ == "__main__":
    main(sys.argv[1])
