#!/usr/bin/python3
"""Reads a one-port Touchstone file with scikit-rf, a reader independent of the program,
and prints one line per point: frequency in Hz, |S11| and its angle in degrees, each as
the shortest text that reads back as the same double. Exit status 1 when it cannot."""
import contextlib
import io
import sys
import warnings

warnings.simplefilter("ignore")
try:
    with contextlib.redirect_stdout(io.StringIO()):  # its note that matplotlib is missing
        import skrf
except ImportError as e:
    sys.exit("scikit-rf is missing (scripts/install-deps.sh test installs python3-scikit-rf): %s" % e)

network = skrf.Network(sys.argv[1])
if network.nports != 1:
    sys.exit("not a one-port file: %d ports" % network.nports)
for f, mag, deg in zip(network.f, network.s_mag[:, 0, 0], network.s_deg[:, 0, 0]):
    print(repr(float(f)), repr(float(mag)), repr(float(deg)))
