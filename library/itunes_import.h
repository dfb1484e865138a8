#pragma once
// The library export of iTunes or the Music app ("Library.xml", a property list): the tracks found
// on this computer with their star ratings, and the user's own playlists.
#include <map>
#include <string>

#include "platform/xml.h"

// A property-list dict: key text -> the value element after it, in key order (a key that is the
// last child is ignored; a repeated key keeps its last value).
std::map<std::wstring, XmlNode> PlistDict(XmlNode dict);
