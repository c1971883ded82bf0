"""The field components a recorder measures, and the table parameters that name
their channels. The one place the package spells them."""

# (table parameter giving the component's channel, component name), in the
# recorder's order: electric first, then magnetic.
COMPONENT_TABLE = (("CHEX", "Ex"), ("CHEY", "Ey"), ("CHEZ", "Ez"), ("CHHX", "Hx"), ("CHHY", "Hy"), ("CHHZ", "Hz"))

COMPONENTS = tuple(parameter for parameter, _ in COMPONENT_TABLE)
COMPONENT_NAMES = dict(COMPONENT_TABLE)
ELECTRIC = tuple(name for _, name in COMPONENT_TABLE if name.startswith("E"))
MAGNETIC = tuple(name for _, name in COMPONENT_TABLE if name.startswith("H"))

# Table parameters of each component's layout: the dipole length (m) of an
# electric component, the azimuth (degrees) where the table states one, and the
# serial of a magnetic component's sensor.
DIPOLE_LENGTH = {"Ex": "EXLN", "Ey": "EYLN", "Ez": "EZLN"}
AZIMUTH = {"Ex": "EXAZ", "Ey": "EYAZ", "Hx": "HXAZ", "Hy": "HYAZ"}
SENSOR_SERIAL = {"Hx": "HSNX", "Hy": "HSNY", "Hz": "HSNZ"}

# Channel numbers a table can give a component.
MAX_CHANNELS = 12


def channel_numbers(params):
    """Channel number (1 ... 12) of each component a table names, e.g. {"Ex": 1}:
    components whose parameter is missing or out of range are left out."""
    numbers = {}
    for parameter, name in COMPONENT_TABLE:
        value = params.get(parameter)
        if isinstance(value, int) and 1 <= value <= MAX_CHANNELS:
            numbers[name] = value
    return numbers


def channel_names(numbers, channel_count):
    """Component name of each channel 1 ... channel_count ("ch<n>" when no
    component is recorded on it), from a channel_numbers() mapping."""
    by_number = {n: name for name, n in numbers.items()}
    return [by_number.get(n, "ch%d" % n) for n in range(1, channel_count + 1)]
