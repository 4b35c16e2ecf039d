#!/usr/bin/env python3
"""Checks the JSON output of loadwing read from stdin; exits non-zero with a reason if wrong.

  check_json.py info SIZE                  info --json of a loaded file sending SIZE bytes
  check_json.py check-byte IMAGE.bin SIZE  its checkByte is that of IMAGE's first SIZE bytes
  check_json.py flash-events               flash --json of a completed module 3 transfer
"""

import json
import sys


def remainder(data):
    """The bytes as one bit string, MSB first, divided by x^8 + x^7 + x^4 + x^3 + x + 1."""
    r = 0
    for byte in data:
        for bit in range(7, -1, -1):
            r = (r << 1) | ((byte >> bit) & 1)
            if r & 0x100:
                r ^= 0x19B
    return r


def main():
    mode = sys.argv[1]
    text = sys.stdin.read()
    if mode == "info":
        size = int(sys.argv[2])
        info = json.loads(text)
        assert info["loaded"] is True, info
        assert info["bytes"] == size and info["blocks"] == size // 256, info
    elif mode == "check-byte":
        with open(sys.argv[2], "rb") as f:
            data = f.read()[: int(sys.argv[3])]
        info = json.loads(text)
        expected = "0x%02X" % remainder(data)
        assert info["checkByte"] == expected, (info["checkByte"], expected)
    elif mode == "flash-events":
        events = [json.loads(line) for line in text.splitlines()]
        texts = [e["text"] for e in events if e["event"] == "status"]
        assert " flash: start..." in texts and texts[-1] == " flash: completed", texts
        assert any(e["event"] == "progress" and e["max"] == 128 for e in events), events
        result = events[-1]
        assert result["event"] == "result" and result["outcome"] == "completed", result
        assert result["exit"] == 0 and result["target"] == "Module3", result
        assert result["bytes"] == 32768, result
    else:
        raise SystemExit("unknown mode " + mode)


if __name__ == "__main__":
    main()
