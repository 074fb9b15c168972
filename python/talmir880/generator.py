"""A PyMeasure instrument class for the TALMIR-880 served by talmir880-scpi."""

from pymeasure.instruments import Instrument
from pymeasure.instruments.validators import (strict_discrete_set,
                                              strict_range)

# What the server takes (it answers the same to `FREQ? MIN` and the like);
# it refuses anything else with an error of its own. One 10 Hz unit of RF is
# the device's RF-off command, so CW starts at 20 Hz.
CW_RANGE = [20, 9.99999999e9]
FREQUENCY_RANGE = [10, 9.99999999e9]
MODULATION_RANGE = [1, 9999999]
LEVELS_DBM = [-3, -6, -9, -12]
POINTS_RANGE = [5, 9999]
SPAN_RANGE = [0, FREQUENCY_RANGE[1] - FREQUENCY_RANGE[0]]
STEP_RANGE = [10, 1e9]
_ON_OFF = {True: 1, False: 0}


def _frequency(value):
    return float(value)


def _whole_points(value, values):
    """A point count: a whole number in range, never silently truncated."""
    if isinstance(value, bool) or value != int(value):
        raise ValueError("Value of %r is not a whole number of points" % (value,))
    return int(strict_range(int(value), values))


class SweepError(RuntimeError):
    """A sweep pass that could not run or did not finish; `errors` holds the
    (code, text) entries read from the server's queue, the pass's last."""

    def __init__(self, errors):
        self.errors = errors
        super().__init__("the sweep pass did not run: " +
                         "; ".join('%d,"%s"' % error for error in errors))


class Talmir880(Instrument):
    """The TALMIR-880 RF signal generator, through talmir880-scpi.

    ``Talmir880("TCPIP::127.0.0.1::5025::SOCKET")`` is enough: lines end in
    LF both ways unless ``read_termination`` or ``write_termination`` say
    otherwise, and pyvisa's default backend is used (pyvisa-py where no other
    VISA library is installed; pass ``visa_library`` to choose).

    A query answers the programmed value, the last one the server accepted;
    a setting the device then does not acknowledge goes back to the last
    acknowledged value and queues -240 (see :meth:`check_errors`). A setting
    made while a sweep pass runs is sent to the device after the pass. At
    start the RF output and the modulation count as off: the frequencies are
    kept until they are switched on.
    """

    frequency = Instrument.control(
        "FREQ?", "FREQ %.12g",
        """RF frequency in Hz (20 Hz to 9.99999999 GHz, in 10 Hz steps); sent to
        the device while the output is on, kept for later while it is off.""",
        validator=strict_range, values=CW_RANGE, get_process=_frequency)

    frequency_step = Instrument.control(
        "FREQ:STEP?", "FREQ:STEP %.12g",
        """Step in Hz of :meth:`frequency_up` and :meth:`frequency_down`,
        10 Hz to 1 GHz.""",
        validator=strict_range, values=STEP_RANGE, get_process=_frequency)

    output_enabled = Instrument.control(
        "OUTP?", "OUTP %d",
        """Whether the RF output is on; off at start.""",
        validator=strict_discrete_set, values=_ON_OFF, map_values=True)

    power = Instrument.control(
        "POW?", "POW %d",
        """RF level in dBm: -3, -6, -9 or -12.""",
        validator=strict_discrete_set, values=LEVELS_DBM,
        get_process=lambda v: int(round(float(v))))

    modulation_frequency = Instrument.control(
        "LFO:FREQ?", "LFO:FREQ %.12g",
        """Modulation frequency in Hz (1 Hz to 9.999999 MHz); sent while the
        modulation is on, kept for later while it is off.""",
        validator=strict_range, values=MODULATION_RANGE, get_process=_frequency)

    modulation_enabled = Instrument.control(
        "OUTP:MOD?", "OUTP:MOD %d",
        """Whether the modulation is on; off at start.""",
        validator=strict_discrete_set, values=_ON_OFF, map_values=True)

    start_frequency = Instrument.control(
        "FREQ:STAR?", "FREQ:STAR %.12g",
        """Sweep start frequency in Hz; below the stop.""",
        validator=strict_range, values=FREQUENCY_RANGE, get_process=_frequency)

    stop_frequency = Instrument.control(
        "FREQ:STOP?", "FREQ:STOP %.12g",
        """Sweep stop frequency in Hz; above the start.""",
        validator=strict_range, values=FREQUENCY_RANGE, get_process=_frequency)

    center_frequency = Instrument.control(
        "FREQ:CENT?", "FREQ:CENT %.12g",
        """Centre of the sweep in Hz; setting it keeps the span.""",
        validator=strict_range, values=FREQUENCY_RANGE, get_process=_frequency)

    span = Instrument.control(
        "FREQ:SPAN?", "FREQ:SPAN %.12g",
        """Sweep stop minus start in Hz; setting it keeps the centre.""",
        validator=strict_range, values=SPAN_RANGE, get_process=_frequency)

    sweep_points = Instrument.control(
        "SWE:POIN?", "SWE:POIN %d",
        """Points of one sweep pass, 5 to 9999, start and stop included.""",
        validator=_whole_points, values=POINTS_RANGE,
        get_process=lambda v: int(round(float(v))))

    sweep_mode_enabled = Instrument.control(
        "FREQ:MODE?", "FREQ:MODE %s",
        """Whether INIT sweeps (True) or the output stays on one frequency (False).""",
        validator=strict_discrete_set, values={True: "SWE", False: "CW"}, map_values=True)

    continuous_sweep = Instrument.control(
        "INIT:CONT?", "INIT:CONT %d",
        """Whether sweep passes follow each other while the mode is sweep;
        switching it on in sweep mode starts them.""",
        validator=strict_discrete_set, values=_ON_OFF, map_values=True)

    def __init__(self, adapter, name="TALMIR-880 RF signal generator", **kwargs):
        # Used when `adapter` is a resource name; a caller's own values win.
        kwargs.setdefault("read_termination", "\n")
        kwargs.setdefault("write_termination", "\n")
        super().__init__(adapter, name, **kwargs)

    def enable(self):
        """Switches the RF output on, at :attr:`frequency`."""
        self.write("OUTP ON")

    def disable(self):
        """Switches the RF output off."""
        self.write("OUTP OFF")

    def enable_modulation(self):
        """Switches the modulation on, at :attr:`modulation_frequency`."""
        self.write("OUTP:MOD ON")

    def disable_modulation(self):
        """Switches the modulation off."""
        self.write("OUTP:MOD OFF")

    def frequency_up(self):
        """Raises :attr:`frequency` by :attr:`frequency_step`."""
        self.write("FREQ UP")

    def frequency_down(self):
        """Lowers :attr:`frequency` by :attr:`frequency_step`."""
        self.write("FREQ DOWN")

    def shutdown(self):
        """Switches the modulation and the RF output off."""
        self.disable_modulation()
        self.disable()
        super().shutdown()

    def sweep(self, start=None, stop=None, points=None, timeout=60.0):
        """Runs one sweep pass and returns once the device has reported every
        point; the arguments given replace the start and stop frequencies and
        the point count first. Raises :class:`SweepError` with the server's
        error when the pass could not run (-221 for a step the device cannot
        take, -241 for a missing device, -240 for a stalled pass), and
        ``ValueError`` before anything is sent for a start not below the stop
        or a point count that is not a whole number in range.

        :param timeout: seconds to wait for the pass at most
        """
        settings = []
        if start is not None or stop is not None:
            start = self.start_frequency if start is None else start
            stop = self.stop_frequency if stop is None else stop
            strict_range(start, FREQUENCY_RANGE)
            strict_range(stop, FREQUENCY_RANGE)
            if not start < stop:
                raise ValueError("the start, %g Hz, is not below the stop, %g Hz" % (start, stop))
            settings += ["FREQ:STAR %.12g" % start, "FREQ:STOP %.12g" % stop]
        if points is not None:
            settings.append("SWE:POIN %d" % _whole_points(points, POINTS_RANGE))
        queued = int(self.ask("SYST:ERR:COUN?"))
        self.write(";:".join(settings + ["FREQ:MODE SWE", "INIT"]))
        count = self._wait("*OPC?;:SYST:ERR:COUN?", timeout).strip().rpartition(";")[2]
        # Errors queued before the pass stay unread unless the pass added one.
        if int(count) > queued:
            raise SweepError(self.check_errors())

    def abort(self):
        """Stops repeating sweep passes; the running pass still ends (the
        device cannot cut it short)."""
        self.write("ABOR")

    def save(self):
        """Makes the device keep its settings, and the current mode, in its flash."""
        self.write("*SAV 0")

    def reset(self):
        """Switches the RF output and the modulation off and returns every
        setting to its start-up value."""
        self.write("*RST")

    def check_errors(self):
        """Reads the error queue empty; returns its entries as (code, text)."""
        errors = []
        while True:
            code, _, text = self.ask("SYST:ERR?").strip().partition(",")
            if int(code) == 0:
                return errors
            errors.append((int(code), text.strip('"')))

    def _wait(self, query, timeout):
        """Asks a query that waits for the device, allowing it `timeout` s."""
        connection = getattr(self.adapter, "connection", None)
        saved = getattr(connection, "timeout", None)
        if connection is not None:
            connection.timeout = timeout * 1000
        try:
            return self.ask(query)
        finally:
            if connection is not None:
                connection.timeout = saved
