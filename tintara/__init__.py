"""tintara: ANSI colour and style escape sequences for terminals.

The package is four extension modules, imported on their own:

- ``tintara.colors``: ``fg_code``, ``bg_code``, ``parse_hex``, ``rgb_to_ansi256``
  and the colour tables;
- ``tintara.styles``: ``style_on``, ``style_off`` and ``RESET_ALL``;
- ``tintara.detect``: ``detect_color_level``, ``supports_color``,
  ``ColorLevel`` and ``enable_windows_vt``;
- ``tintara.paint``: ``Style``, ``paint``, ``echo``, ``strip`` and
  ``downgrade``: styled text written as the stream's colour level allows.

Importing ``tintara`` itself loads none of them.
"""

__version__ = "0.1.0"
