"""A PyMeasure instrument class for the TALMIR-880 served by talmir880-scpi."""

import math

from pymeasure.instruments import Instrument
from pymeasure.instruments.validators import strict_discrete_set

from talmir880 import _settings

_DESCRIBED = {s["name"]: s for s in _settings.SETTINGS}


def _limits(name):
    return [_DESCRIBED[name]["min"], _DESCRIBED[name]["max"]]


# What the server takes (it answers the same to `FREQ? MIN` and the like),
# from the settings' description (_settings.py, generated): the validators,
# the messages and the sweep check use these. The device runs RF in 10 Hz
# units; one unit is its RF-off command, so CW starts at two.
RF_UNIT_HZ = _settings.RF_UNIT_HZ
CW_RANGE = _limits("rf_frequency")
MAX_RF_HZ = CW_RANGE[1]
FREQUENCY_RANGE = _limits("sweep_start")
MODULATION_RANGE = _limits("modulation_frequency")
LEVELS_DBM = _DESCRIBED["level"]["levels"]
POINTS_RANGE = _limits("sweep_points")
SPAN_RANGE = _limits("sweep_span")
STEP_RANGE = _limits("tuning_step")
# A pass's step goes to the device as eight digits of 10 Hz units.
MAX_SWEEP_STEP_HZ = _settings.MAX_SWEEP_STEP_HZ
# STATus:QUEStionable: the RF output or the modulation not confirmed.
NOT_CONFIRMED = _settings.QUESTIONABLE["not_confirmed"]
_ON_OFF = {True: 1, False: 0}
# Every setting's line: the error count before and after it.
_COUNTED = "SYST:ERR:COUN?;:%s;:SYST:ERR:COUN?"


def _scaled(value, unit, digits=12):
    """A value as people write it, in its unit with a prefix: 20 Hz,
    433.92 MHz, 9.99999999 GHz."""
    for prefix, scale in (("G", 1e9), ("M", 1e6), ("k", 1e3)):
        if abs(value) >= scale:
            return "%.*g %s%s" % (digits, value / scale, prefix, unit)
    return "%.*g %s" % (digits, value, unit)


# The sweep's frequencies are in the RF's unit.
_RF_UNIT = _DESCRIBED["rf_frequency"]["unit"]


def _hz(value, digits=12):
    """A frequency of the sweep as people write it."""
    return _scaled(value, _RF_UNIT, digits)


def _levels(levels):
    texts = ["%d" % level for level in levels]
    return "%s or %s" % (", ".join(texts[:-1]), texts[-1])


def _number(value, what):
    """A finite number, given as a number or as its text."""
    try:
        if isinstance(value, bool):
            raise TypeError
        number = float(value)
    except (TypeError, ValueError):
        raise ValueError("%r is not a number of %s" % (value, what)) from None
    if not math.isfinite(number):
        raise ValueError("%r is not a number of %s" % (value, what))
    return number


def _round_half_away(x):
    """std::round, as the server rounds."""
    whole = math.floor(abs(x))
    if abs(x) - whole >= 0.5:
        whole += 1
    return math.copysign(whole, x)


def _served_hz(hz):
    """The whole Hz the server makes of a frequency as this class writes it."""
    return _round_half_away(float("%.12g" % hz))


def _frequency(value, limits, unit=_RF_UNIT):
    """A frequency in its unit, refused as the server refuses it."""
    hz = _number(value, unit)
    if not limits[0] <= _served_hz(hz) <= limits[1]:
        raise ValueError("%s is outside %s to %s" % (
            _scaled(hz, unit), _scaled(limits[0], unit), _scaled(limits[1], unit)))
    return hz


def _level(value, levels, unit):
    """A listed level in its unit, given as a number or as its text ("-6")."""
    level = _number(value, unit)
    if level not in levels:
        raise ValueError("%g %s is not a level of the device: %s %s" %
                         (level, unit, _levels(levels), unit))
    return int(level)


def _whole(value, limits, counted="points"):
    """A count: a whole number in range, never silently truncated."""
    n = _number(value, counted)
    if n != int(n):
        raise ValueError("%g is not a whole number of %s" % (n, counted))
    if not limits[0] <= n <= limits[1]:
        raise ValueError("%d %s is outside %d to %d" % (n, counted, limits[0], limits[1]))
    return int(n)


def _whole_points(value, limits):
    return _whole(value, limits, "points")


def _step_field_hz(start, stop, points):
    """A pass's step as its field carries it: rounded to 10 Hz units, as
    the server computes it."""
    step = (stop - start) / (points - 1)
    return _round_half_away(step / RF_UNIT_HZ) * RF_UNIT_HZ


def _check_sweep(start, stop, points):
    """Refuses what the server would refuse with -221, and says why."""
    if not start < stop:
        raise ValueError("the start, %s, is not below the stop, %s" % (_hz(start), _hz(stop)))
    field = _step_field_hz(start, stop, points)
    if 0 < field <= MAX_SWEEP_STEP_HZ:
        return
    span, low, high = stop - start, POINTS_RANGE[0], POINTS_RANGE[1]
    step = "the step, %s (%s in %d steps)," % (_hz(span / (points - 1), 6), _hz(span), points - 1)
    if field <= 0:
        most = next((n for n in range(points - 1, low - 1, -1)
                     if _step_field_hz(start, stop, n) > 0), None)
        hint = ("at most %d points fit that span" % most if most
                else "no pass of %d points or more fits that span" % low)
        raise ValueError("%s rounds to nothing in the device's %s units; %s" %
                         (step, _hz(RF_UNIT_HZ), hint))
    least = next((n for n in range(points + 1, high + 1)
                  if _step_field_hz(start, stop, n) <= MAX_SWEEP_STEP_HZ), high)
    raise ValueError("%s is wider than the device's %s; take at least %d points" %
                     (step, _hz(MAX_SWEEP_STEP_HZ), least))


class _Setting(property):
    """A described setting's property: `setting` is its description;
    `query`, `command` and `values` what it asks, sends and takes."""


def _control(setting, get_command, set_command, docs, validator, values, map_values=False,
             get_process=lambda v: v):
    """Instrument.control, whose setter sends the setting through
    :meth:`Talmir880.set`, which calls :meth:`Talmir880.check_set_errors` as
    later PyMeasure versions do for ``check_set_errors=True``; this one's
    (0.9) calls ``check_errors()`` instead, which returns the queue."""
    getter = Instrument.control(get_command, set_command, docs, values=values,
                                map_values=map_values, get_process=get_process)

    def fset(self, value):
        value = validator(value, values)
        self.set(set_command % (values[value] if map_values else value))

    made = _Setting(getter.fget, fset, doc=docs)
    made.setting, made.query, made.command, made.values = setting, get_command, set_command, values
    # A property subclass's instances take their class's docstring otherwise.
    made.__doc__ = docs
    return made


# Each described setting's docstring where it is not a plain sentence;
# {range}, {levels} and {unit} are its description's, as people read them. A
# count's messages name what it counts; a mode's values are what each
# Python value sends. Its attribute is in the description.
_FACES = {
    "rf_frequency": {
        "docs": """RF frequency in {unit} ({range}, in {rf_unit} steps); sent to
        the device while the output is on, kept for later while it is off."""},
    "tuning_step": {
        "docs": """Step in {unit} of :meth:`frequency_up` and :meth:`frequency_down`,
        {range}."""},
    "rf_output": {
        "docs": """Whether the RF output is on, or may be (see :attr:`output_confirmed`)."""},
    "level": {
        "docs": """RF level in {unit}: {levels}, as a number or as its text."""},
    "modulation_frequency": {
        "docs": """Modulation frequency in {unit} ({range}); sent while the
        modulation is on, kept for later while it is off."""},
    "modulation_output": {
        "docs": """Whether the modulation is on, or may be (see :attr:`output_confirmed`)."""},
    "sweep_start": {
        "docs": """Sweep start frequency in {unit} ({range}); below the stop."""},
    "sweep_stop": {
        "docs": """Sweep stop frequency in {unit} ({range}); above the start."""},
    "sweep_centre": {
        "docs": """Centre of the sweep in {unit}; setting it keeps the span, so start and
        stop must stay within {range}."""},
    "sweep_span": {
        "docs": """Sweep stop minus start in {unit} ({range}); setting it keeps the centre."""},
    "sweep_points": {
        "docs": """How many points one sweep pass has, {range}, start and stop included.""",
        "counted": "points"},
    "sweep_mode": {
        "docs": """Whether INIT sweeps (True) or the output stays on one frequency (False).""",
        "values": {True: "SWE", False: "CW"}},
    "continuous_sweep": {
        "docs": """Whether sweep passes follow each other while the mode is sweep;
        switching it on in sweep mode starts them."""},
}


def _short(word):
    """A choice's short form: SWE for SWEep."""
    return "".join(c for c in word if not c.islower())


def _whole_answer(answer):
    return int(round(float(answer)))


def _properties(settings):
    """A property for each described setting, by its attribute."""
    made = {}
    for s in settings:
        face = _FACES.get(s["name"], {})
        limits = [s["min"], s["max"]]
        unit = face.get("counted", s["unit"])
        if s["kind"] == "frequency":
            taken = "%s to %s" % (_scaled(s["min"], s["unit"]), _scaled(s["max"], s["unit"]))
        else:
            taken = "%d to %d%s" % (s["min"], s["max"], " " + unit if unit else "")
        levels = _levels(s["levels"]) if s["levels"] else ""
        plain = "%s (``%s``)%s." % (s["name"].replace("_", " ").capitalize(), s["header"], {
            "frequency": " in {unit}, {range}", "count": ", {range}",
            "level": " in {unit}: {levels}"}.get(s["kind"], ""))
        docs = face.get("docs", plain).format(range=taken, levels=levels, unit=s["unit"],
                                              rf_unit=_hz(RF_UNIT_HZ))
        if s["kind"] == "frequency":
            kind = ("%.12g", lambda v, l, u=s["unit"]: _frequency(v, l, u), limits, False, float)
        elif s["kind"] == "count":
            counted = unit or "units"
            kind = ("%d", lambda v, l, c=counted: _whole(v, l, c), limits, False, _whole_answer)
        elif s["kind"] == "level":
            kind = ("%d", lambda v, l, u=s["unit"]: _level(v, l, u), s["levels"], False,
                    _whole_answer)
        elif s["kind"] == "boolean":
            kind = ("%d", strict_discrete_set, _ON_OFF, True, lambda v: v)
        else:
            words = face.get("values") or {w.upper(): _short(w) for w in s["choices"]}
            kind = ("%s", strict_discrete_set, words, True, lambda v: v)
        form, validator, values, map_values, get_process = kind
        made[s["attribute"]] = _control(
            s, s["command"] + "?", s["command"] + " " + form, docs, validator, values,
            map_values=map_values, get_process=get_process)
    return made


def _entries(errors):
    return "; ".join('%d,"%s"' % error for error in errors)


class ServerError(RuntimeError):
    """A command the server refused, or a device command that failed.
    `errors` holds the (code, text) entries read from the server's queue,
    the command's own last; `code` and `text` are the first of its own."""

    def __init__(self, command, errors, added=1):
        self.command = command
        self.errors = errors
        own = errors[-added:] if errors else []
        self.code, self.text = own[0] if own else (0, "")
        super().__init__(self.describe(own))

    def describe(self, own):
        return "%s: %s" % (self.command, _entries(own))


class SweepError(ServerError):
    """A sweep pass that could not run or did not finish."""

    def describe(self, own):
        return "the sweep pass did not run: " + _entries(own)


class Talmir880(Instrument):
    """The TALMIR-880 RF signal generator, through talmir880-scpi.

    ``Talmir880("TCPIP::127.0.0.1::5025::SOCKET")`` is enough: lines end in
    LF both ways unless ``read_termination`` or ``write_termination`` say
    otherwise, and pyvisa's default backend is used (pyvisa-py where no other
    VISA library is installed; pass ``visa_library`` to choose).

    A value outside what the server takes raises ``ValueError`` before it is
    sent. A setting or a command the server refuses, or one the device does
    not acknowledge, raises :class:`ServerError` with the server's code and
    text; a setting goes back to the last value the device acknowledged. A
    query answers the programmed value, the last one the server accepted. A
    setting made while a sweep pass runs is sent to the device after the
    pass, and a failure then stays in the queue (see :meth:`check_errors`).
    The device cannot be asked what it holds: the server switches the RF
    output and the modulation off when it takes the device over and when the
    device comes back, and until the device acknowledged the last command
    for them they read as on (:attr:`output_confirmed` is False). The
    frequencies are kept until they are switched on.
    """

    # Each described setting's property (frequency, power, sweep_points...)
    # is made from the description, after the class.

    output_confirmed = Instrument.measurement(
        "STAT:QUES:COND?",
        """Whether the device acknowledged the last command for both the RF
        output and the modulation. While not (after a fault, or before the
        server reached the device) each reads as on, since it may be.""",
        get_process=lambda v: not int(v) & NOT_CONFIRMED)

    def __init__(self, adapter, name="TALMIR-880 RF signal generator", **kwargs):
        # Used when `adapter` is a resource name; a caller's own values win.
        kwargs.setdefault("read_termination", "\n")
        kwargs.setdefault("write_termination", "\n")
        super().__init__(adapter, name, **kwargs)
        self._last_set = None

    def set(self, command):
        """Sends a setting or a command, waits until the server has taken it
        (and the device, unless a sweep pass runs), and raises
        :class:`ServerError` with what the server refused of it."""
        self._last_set = (command, self.ask(_COUNTED % command))
        self.check_set_errors()

    def check_set_errors(self):
        """PyMeasure's check after a setting, made by every setter and
        command of this class: raises :class:`ServerError` when the server
        queued an error for the last one. Its line counted the queue before
        and after it, so an error queued earlier and left unread is not held
        against it (it is read all the same, into ``errors``). Returns []."""
        if self._last_set is None:
            return []
        command, answer = self._last_set
        self._last_set = None
        counts = answer.strip().split(";")
        added = int(counts[-1]) - int(counts[0])
        # A command error drops the rest of its line, the second count too.
        if len(counts) < 2 or added > 0:
            raise ServerError(command, self.check_errors(), max(added, 1))
        return []

    def enable(self):
        """Switches the RF output on, at :attr:`frequency`."""
        self.set("OUTP ON")

    def disable(self):
        """Switches the RF output off."""
        self.set("OUTP OFF")

    def enable_modulation(self):
        """Switches the modulation on, at :attr:`modulation_frequency`."""
        self.set("OUTP:MOD ON")

    def disable_modulation(self):
        """Switches the modulation off."""
        self.set("OUTP:MOD OFF")

    def frequency_up(self):
        """Raises :attr:`frequency` by :attr:`frequency_step`."""
        self.set("FREQ UP")

    def frequency_down(self):
        """Lowers :attr:`frequency` by :attr:`frequency_step`."""
        self.set("FREQ DOWN")

    def shutdown(self):
        """Switches the modulation and the RF output off; the output also
        when the modulation could not be."""
        try:
            self.disable_modulation()
        finally:
            try:
                self.disable()
            finally:
                super().shutdown()

    def sweep(self, start=None, stop=None, points=None, timeout=60.0):
        """Runs one sweep pass and returns once the device has reported every
        point; the arguments given replace the start and stop frequencies and
        the point count first. A pass is RF on: the output must be on
        (:meth:`enable`). Raises ``ValueError`` before anything is changed
        for the output off, a value out of range, a start not below the
        stop, or a step the device cannot take (it rounds the step to whole
        10 Hz, so one under 5 Hz is nothing). Raises :class:`SweepError` with the
        server's error when the pass could not run all the same (-221 when
        the settings changed meanwhile, -241 for a missing device, -240 for
        a stalled pass).

        :param timeout: seconds to wait for the pass at most
        """
        settings = []
        if start is not None:
            start = _frequency(start, FREQUENCY_RANGE)
            settings.append("FREQ:STAR %.12g" % start)
        if stop is not None:
            stop = _frequency(stop, FREQUENCY_RANGE)
            settings.append("FREQ:STOP %.12g" % stop)
        if points is not None:
            points = _whole_points(points, POINTS_RANGE)
            settings.append("SWE:POIN %d" % points)
        if not self.output_enabled:
            raise ValueError("the output is off, and a sweep pass is RF on: enable() it first")
        _check_sweep(_served_hz(self.start_frequency if start is None else start),
                     _served_hz(self.stop_frequency if stop is None else stop),
                     self.sweep_points if points is None else points)
        line = ";:".join(settings + ["FREQ:MODE SWE", "INIT"])
        counts = self._wait(_COUNTED % (line + ";*OPC?"), timeout).strip().split(";")
        # Errors queued before the pass stay unread unless the pass added one.
        added = int(counts[-1]) - int(counts[0])
        if len(counts) < 3 or added > 0:
            raise SweepError(line, self.check_errors(), max(added, 1))

    def abort(self):
        """Stops repeating sweep passes; the running pass still ends (the
        device cannot cut it short)."""
        self.set("ABOR")

    def save(self):
        """Makes the device keep its settings, and the current mode, in its flash."""
        self.set("*SAV 0")

    def reset(self):
        """Switches the RF output and the modulation off and returns every
        setting to its start-up value."""
        self.set("*RST")

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


# The described settings' properties, made from the description; one that
# would hide a method of the class is a mistake in _FACES.
for _attribute, _made in _properties(_settings.SETTINGS).items():
    if hasattr(Talmir880, _attribute):
        raise TypeError("the setting %s would hide Talmir880.%s" %
                        (_made.setting["name"], _attribute))
    setattr(Talmir880, _attribute, _made)
del _attribute, _made
