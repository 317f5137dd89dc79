# The Debian package (scripts/package): the two programs, the help, the
# desktop entry and its icon. Library dependencies come from dpkg-shlibdeps;
# the Qt platform plugins are loaded at run time, so they are named here.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvex)
set(CPACK_PACKAGE_VENDOR "Tesselby")
set(CPACK_PACKAGE_CONTACT "Orvex maintainers <orvex@tesselby.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Sound-cue playback mixer for live theatre")
set(CPACK_PACKAGE_DESCRIPTION
    "Orvex plays the sound cues of a show from a numbered cue sheet: six play\n channels with faders and transport buttons, group faders, a master and a\n cross-fader, three outputs on JACK, PulseAudio/PipeWire or ALSA, a GO\n button, fades, an auto-run clock, a background playlist, markers and MIDI\n remote control. orvex-cli checks, renders and plays shows without a window.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-ipafont-gothic")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n, pulseaudio-utils")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "jackd2")
set(CPACK_STRIP_FILES ON)
include(CPack)
