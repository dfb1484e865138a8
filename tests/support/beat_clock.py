"""What the MIDI beat-clock checks measure: the clock's rate as a peer timed it, and the beats heard
in a recording of the sink. Imported by the end-to-end scripts' Python."""
import numpy


def peer_clock(log_path):
    """The peer log's clock from its first start to the stop after it: (clock times, kinds after
    the stop). Raises AssertionError without a start, a clock with it, or a stop."""
    events = [line.split() for line in open(log_path)]
    events = [(float(w[0]), w[1]) for w in events if len(w) == 2 and w[1] in ("fa", "f8", "fc")]
    kinds = [k for _, k in events]
    assert "fa" in kinds, "the peer got no start: %s" % kinds[:5]
    a = kinds.index("fa")
    assert kinds[a + 1:a + 2] == ["f8"], "no clock with the start"
    assert "fc" in kinds[a:], "the peer got no stop"
    b = kinds.index("fc", a)
    return [t for t, k in events[a + 1:b] if k == "f8"], kinds[b + 1:]


def clock_rate(times):
    """Clocks a second. MIDI over JACK arrives once a period and a loaded machine delays some
    arrivals but never makes one early: the slope of a line through the least delayed clock of
    each half second (24 clocks)."""
    assert len(times) >= 96, "only %d clocks" % len(times)
    envelope = []
    for block in range(0, len(times) - 23, 24):
        k = min(range(block, block + 24), key=lambda c: times[c] - c / 48.0)
        envelope.append((k, times[k]))
    ks = numpy.array([k for k, _ in envelope], dtype=float)
    ts = numpy.array([t for _, t in envelope])
    return 1.0 / numpy.polyfit(ks, ts, 1)[0]


def beats_heard(raw_path, rate=48000):
    """Beats a second of the 10 ms 1 kHz clicks in a float32 stereo recording of the sink, which
    runs on the system clock (a starved output makes the deck itself fall behind). A click's
    strength in 10 ms windows every 2.5 ms (a gap the starved output leaves is a step, whose energy
    is spread over every frequency)."""
    x = numpy.fromfile(raw_path, dtype=numpy.float32)[0::2].astype(numpy.float64)
    n = numpy.arange(rate // 100)
    probe = numpy.exp(-2j * numpy.pi * 1000.0 * n / rate)
    starts = numpy.arange(0, len(x) - len(n), len(n) // 4)
    strength = numpy.array([abs(numpy.dot(x[s:s + len(n)], probe)) for s in starts])
    loud = strength > 0.5 * strength.max()
    onsets, last = [], -rate
    for i in starts[loud]:
        if i - last > 0.2 * rate:
            onsets.append(i)
        last = i
    assert len(onsets) >= 6, "only %d beats heard" % len(onsets)
    return (len(onsets) - 1) * float(rate) / (onsets[-1] - onsets[0])


def dump_events(dump_path):
    """jack_midi_dump's lines as (JACK frame, first byte in hex)."""
    events = []
    for line in open(dump_path):
        head, _, rest = line.partition(":")
        if head.strip().isdigit():
            events.append((int(head), rest.split()[0] if rest.split() else ""))
    return events


def jack_lag(events, log_path, rate=48000):
    """How far the JACK server's frame clock fell behind the peer's wall clock from the start to
    the stop (0.05: 5 %). When the machine starves the server every arrival is late by a growing
    amount, so no peer can time the clock through it."""
    kinds = [k for _, k in events]
    start = kinds.index("fa")
    stop = kinds.index("fc", start)
    peer = [line.split() for line in open(log_path)]
    peer = [(float(w[0]), w[1]) for w in peer if len(w) == 2 and w[1] in ("fa", "fc")]
    pk = [k for _, k in peer]
    a = pk.index("fa")
    jack_seconds = (events[stop][0] - events[start][0]) / float(rate)
    return 1.0 - jack_seconds / (peer[pk.index("fc", a)][0] - peer[a][0])
