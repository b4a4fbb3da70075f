"""Plays every "mid" file of a folder with mido's MidiFile.play(), as a user would pace a send by
hand, and prints the same JSON as `transfer_bench timing`: for each message after the first, its
requested delay in ms (the third byte the generator wrote) and the gap in ns between the time the
previous message's handling returned and the time this one was yielded.

Run with the system's python3 (Debian's python3-mido): /usr/bin/python3 bench/mido_play.py FOLDER
"""

import json
import pathlib
import sys
import time

import mido


def main(folder):
    gaps = []
    previous_return = None
    for path in sorted(pathlib.Path(folder).glob("*.mid")):
        for message in mido.MidiFile(path).play():
            # The loop body stands for the send: the same monotonic clock as the transfer's port.
            entered = time.perf_counter_ns()
            if previous_return is not None:
                gaps.append([message.data[1], entered - previous_return])
            previous_return = time.perf_counter_ns()
    print(json.dumps({"player": "mido " + mido.__version__, "gaps": gaps}))


if __name__ == "__main__":
    main(sys.argv[1])
