// MIDI remote control lives here.
namespace orvex::midi {}
