"""The TALMIR-880 RF signal generator for PyMeasure, through talmir880-scpi.

    from pymeasure.adapters import VISAAdapter
    from talmir880 import Talmir880

    adapter = VISAAdapter("TCPIP::127.0.0.1::5025::SOCKET", visa_library="@py",
                          read_termination="\\n", write_termination="\\n")
    generator = Talmir880(adapter)
    generator.frequency = 433.92e6
    generator.output_enabled = True
"""

from talmir880.generator import Talmir880

__all__ = ["Talmir880"]
