#pragma once

// Host name of the HTTPS site that serves the web pairing page.
inline constexpr char webPairingHost[] = "pair.tavrine.app";
