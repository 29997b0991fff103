// The unit's page: a plain HTTP GET of "/" on the WebSocket port returns it.
// One self-contained document (no outside fetches): after the operator types
// the access phrase it opens a standard WebSocket back to the unit and shows
// the amplifier live (meters, band, antenna, bank, temperature, supply, the
// error list, the spectrum when it is on). Its controls send the remote
// commands for the bank and the spectrum, and only those.
#pragma once
#include <string>

struct Works;

// The page, with the unit's error titles and texts built in.
std::string WsPage(Works *works);
