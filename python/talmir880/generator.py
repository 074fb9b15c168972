"""A PyMeasure instrument class for the TALMIR-880 served by talmir880-scpi."""

from pymeasure.instruments import Instrument
from pymeasure.instruments.validators import (strict_discrete_set,
                                              strict_range)

# What the server takes; it refuses anything else with an error of its own.
# One 10 Hz unit of RF is the device's RF-off command, so CW starts at 20 Hz.
CW_RANGE = [20, 9.99999999e9]
FREQUENCY_RANGE = [10, 9.99999999e9]
MODULATION_RANGE = [1, 9999999]
LEVELS_DBM = [-3, -6, -9, -12]
POINTS_RANGE = [5, 9999]
_ON_OFF = {True: 1, False: 0}


def _frequency(value):
    return float(value)


class Talmir880(Instrument):
    """The TALMIR-880 RF signal generator.

    Every setting is taken by the device before the server answers a query
    for it, so a value read back is the value the device acknowledged.
    """

    frequency = Instrument.control(
        "FREQ?", "FREQ %.12g",
        """RF frequency in Hz (20 Hz to 9.99999999 GHz, in 10 Hz steps); sent to
        the device while the output is on, kept for later while it is off.""",
        validator=strict_range, values=CW_RANGE, get_process=_frequency)

    output_enabled = Instrument.control(
        "OUTP?", "OUTP %d",
        """Whether the RF output is on.""",
        validator=strict_discrete_set, values=_ON_OFF, map_values=True)

    power = Instrument.control(
        "POW?", "POW %d",
        """RF level in dBm: -3, -6, -9 or -12.""",
        validator=strict_discrete_set, values=LEVELS_DBM,
        get_process=lambda v: int(round(float(v))))

    modulation_frequency = Instrument.control(
        "LFO:FREQ?", "LFO:FREQ %.12g",
        """Modulation frequency in Hz (1 Hz to 9.999999 MHz).""",
        validator=strict_range, values=MODULATION_RANGE, get_process=_frequency)

    modulation_enabled = Instrument.control(
        "OUTP:MOD?", "OUTP:MOD %d",
        """Whether the modulation is on.""",
        validator=strict_discrete_set, values=_ON_OFF, map_values=True)

    start_frequency = Instrument.control(
        "FREQ:STAR?", "FREQ:STAR %.12g",
        """Sweep start frequency in Hz.""",
        validator=strict_range, values=FREQUENCY_RANGE, get_process=_frequency)

    stop_frequency = Instrument.control(
        "FREQ:STOP?", "FREQ:STOP %.12g",
        """Sweep stop frequency in Hz; above the start.""",
        validator=strict_range, values=FREQUENCY_RANGE, get_process=_frequency)

    sweep_points = Instrument.control(
        "SWE:POIN?", "SWE:POIN %d",
        """Points of one sweep pass, 5 to 9999.""",
        validator=strict_range, values=POINTS_RANGE,
        get_process=lambda v: int(round(float(v))))

    sweep_mode_enabled = Instrument.control(
        "FREQ:MODE?", "FREQ:MODE %s",
        """Whether INIT sweeps (True) or the output stays on one frequency (False).""",
        validator=strict_discrete_set, values={True: "SWE", False: "CW"}, map_values=True)

    continuous_sweep = Instrument.control(
        "INIT:CONT?", "INIT:CONT %d",
        """Whether a new sweep pass follows each pass.""",
        validator=strict_discrete_set, values=_ON_OFF, map_values=True)

    def __init__(self, adapter, name="TALMIR-880 RF signal generator", **kwargs):
        super().__init__(adapter, name, **kwargs)

    def sweep(self, timeout=60.0):
        """Runs one sweep pass from start_frequency to stop_frequency and
        returns once the device has reported every point.

        :param timeout: seconds to wait for the pass at most
        """
        self.sweep_mode_enabled = True
        self.write("INIT")
        self._wait(timeout)

    def abort(self):
        """Stops repeating sweep passes; the running pass still ends."""
        self.write("ABOR")

    def save(self):
        """Makes the device keep its settings, and the current mode, in its flash."""
        self.write("*SAV 0")

    def reset(self):
        """Switches the RF output off and returns every setting to its start-up value."""
        self.write("*RST")

    def check_errors(self):
        """Reads the error queue empty; returns its entries as (code, text)."""
        errors = []
        while True:
            code, _, text = self.ask("SYST:ERR?").strip().partition(",")
            if int(code) == 0:
                return errors
            errors.append((int(code), text.strip('"')))

    def _wait(self, timeout):
        connection = getattr(self.adapter, "connection", None)
        saved = getattr(connection, "timeout", None)
        if connection is not None:
            connection.timeout = timeout * 1000
        try:
            self.ask("*OPC?")
        finally:
            if connection is not None:
                connection.timeout = saved
