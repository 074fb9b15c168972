"""The TALMIR-880 RF signal generator for PyMeasure, through talmir880-scpi.

    from talmir880 import Talmir880

    generator = Talmir880("TCPIP::127.0.0.1::5025::SOCKET")
    generator.frequency = 433.92e6
    generator.enable()
"""

from talmir880.generator import ServerError, SweepError, Talmir880

__all__ = ["ServerError", "SweepError", "Talmir880"]
