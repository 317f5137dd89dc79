// The audio output back-ends live here.
namespace orvex::output {}
