#!/usr/bin/python3
"""Writes the collection files of other DJ programs from their public format descriptions.

make_dj_collections.py itunes|traktor|virtualdj OUT_FOLDER MUSIC_FOLDER [MOUNTED_VOLUME_DIR]

MUSIC_FOLDER gets short MP3 and FLAC files made by ffmpeg ("a b é.mp3", "ü track.flac", "c.mp3").
OUT_FOLDER gets the program's file: "Library.xml" (plistlib, with Apple's DOCTYPE),
"collection.nml" (with Traktor's quirks: $ROOT, AutoGrid on HOTCUE 0, Open-Key INFO KEY, Mac
volume names, a SMARTLIST) or "database.xml" with Playlists/ and MyLists/ ".vdjfolder" files
(VirtualDJ 8.2 hot cues without Type). The C++ tests know the values written here.
"""
import os
import plistlib
import subprocess
import sys
import urllib.parse
from xml.sax.saxutils import quoteattr


def make_music(music):
    os.makedirs(music, exist_ok=True)
    for name, freq in (("a b é.mp3", 440), ("ü track.flac", 550), ("c.mp3", 660)):
        path = os.path.join(music, name)
        if not os.path.exists(path):
            subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", f"sine=f={freq}:d=3", path], check=True)
    return [os.path.join(music, n) for n in ("a b é.mp3", "ü track.flac", "c.mp3")]


def itunes(out, music):
    a, b, c = make_music(music)
    url = lambda p, host="localhost": "file://" + host + urllib.parse.quote(p)
    tracks = {
        "999": {"Track ID": 999, "Name": "B", "Location": url(b, ""), "Rating": 100, "Rating Computed": True},
        "1000": {"Track ID": 1000, "Name": "A", "Location": url(a), "Rating": 60},
        "1001": {"Track ID": 1001, "Name": "C", "Location": url(c), "Rating": 59},
        "1002": {"Track ID": 1002, "Name": "Gone", "Location": url(os.path.join(music, "gone.mp3"))},
        "1003": {"Track ID": 1003, "Name": "Stream"},
        "1004": {"Track ID": 1004, "Name": "Folder", "Location": url(music)},
        "1005": {"Track ID": 1005, "Name": "NUL", "Location": url(a) + "%00.mp3"},
    }
    items = lambda *ids: [{"Track ID": i} for i in ids]
    playlists = [
        {"Name": "Library", "Master": True, "Visible": False, "Playlist Items": items(1000, 999)},
        {"Name": "Music", "Distinguished Kind": 4, "Playlist Items": items(1000)},
        {"Name": "Sets", "Folder": True, "Playlist Persistent ID": "F1"},
        {"Name": "Friday/Late", "Parent Persistent ID": "F1", "Playlist Items": items(1001, 1002, 1000)},
        {"Name": "Hidden", "Visible": False, "Playlist Items": items(1000)},
        {"Name": "Shown", "Visible": True, "Playlist Items": items(999)},
        {"Name": "All Missing", "Playlist Items": items(1002, 1003)},
        {"Playlist Items": items(1001)},
    ]
    with open(os.path.join(out, "Library.xml"), "wb") as f:
        plistlib.dump({"Major Version": 1, "Minor Version": 1, "Application Version": "1.4",
                       "Music Folder": url(music) + "/", "Tracks": tracks, "Playlists": playlists}, f,
                      sort_keys=False)


def traktor(out, music, mounted=None):
    a, b, c = make_music(music)

    def location(path, volume="Macintosh HD"):
        folder, name = os.path.split(path)
        dirs = "".join("/:" + part for part in folder.strip("/").split("/")) + "/:"
        return volume, dirs, name

    def loc_xml(volume, dirs, name):
        return f'<LOCATION DIR={quoteattr(dirs)} FILE={quoteattr(name)} VOLUME={quoteattr(volume)} VOLUMEID="abc"></LOCATION>'

    va, vb, vc = location(a), location(b), location(c)
    entries = [
        # AutoGrid on HOTCUE 0 (a grid marker, no hot cue), a loop on hot cue 3 without a name, a
        # cue point then a load marker, Open-Key INFO KEY after MUSICAL_KEY.
        f'''<ENTRY MODIFIED_DATE="2024/1/2" TITLE="A" ARTIST="X">
{loc_xml(*va)}
<ALBUM TITLE="Alb"></ALBUM><MODIFICATION_INFO AUTHOR_TYPE="user"></MODIFICATION_INFO>
<MUSICAL_KEY VALUE="21"></MUSICAL_KEY>
<INFO BITRATE="320000" GENRE="House" KEY="1m" RANKING="153" COLOR="5" PLAYTIME="3"></INFO>
<TEMPO BPM="126.000000" BPM_QUALITY="100.000000"></TEMPO>
<LOUDNESS PEAK_DB="-1" PERCEIVED_DB="0" ANALYZED_DB="0"></LOUDNESS>
<CUE_V2 NAME="AutoGrid" DISPL_ORDER="0" TYPE="4" START="100.5" LEN="0.000000" REPEATS="-1" HOTCUE="0"></CUE_V2>
<CUE_V2 NAME="n.n." DISPL_ORDER="0" TYPE="5" START="61000" LEN="4000" REPEATS="-1" HOTCUE="2"></CUE_V2>
<CUE_V2 NAME="Drop" DISPL_ORDER="0" TYPE="0" START="2000" LEN="0" REPEATS="-1" HOTCUE="1"></CUE_V2>
<CUE_V2 NAME="n.n." TYPE="4" START="30000" LEN="0" HOTCUE="-1"></CUE_V2>
<CUE_V2 NAME="Cue" TYPE="0" START="9000" LEN="0" HOTCUE="-1"></CUE_V2>
<CUE_V2 NAME="Load" TYPE="3" START="5000" LEN="0" HOTCUE="-1"></CUE_V2>
<CUE_V2 NAME="Fade" TYPE="1" START="7000" LEN="0" HOTCUE="-1"></CUE_V2>
<CUE_V2 NAME="Far" TYPE="0" START="1e12" LEN="0" HOTCUE="5"></CUE_V2>
<CUE_V2 NAME="Huge" TYPE="0" START="3000" LEN="0" HOTCUE="99999999999999999999"></CUE_V2>
</ENTRY>''',
        # A tempo without any grid marker; only an INFO key (note names), no ranking.
        f'''<ENTRY TITLE="B">{loc_xml(*vb)}<INFO KEY="Am" COLOR="9"></INFO><TEMPO BPM="128"></TEMPO></ENTRY>''',
        # A Windows drive (missing here), a missing file, an entry without LOCATION.
        f'''<ENTRY TITLE="Win">{loc_xml("C:", "/:Music/:", "x.mp3")}</ENTRY>''',
        f'''<ENTRY TITLE="Gone">{loc_xml(*location(os.path.join(music, "gone.mp3")))}</ENTRY>''',
        '''<ENTRY TITLE="Nowhere"><INFO RANKING="255"></INFO></ENTRY>''',
        f'''<ENTRY TITLE="C">{loc_xml(*vc)}<INFO RANKING="255"></INFO><TEMPO BPM="nan"></TEMPO>
<CUE_V2 TYPE="4" START="inf" HOTCUE="0"></CUE_V2></ENTRY>''',
    ]
    key = lambda v: "".join(v)
    extra = ""
    if mounted:  # a file on a volume mounted under its name
        mount_dir, mounted_file = mounted.split(":", 1)
        volume = os.path.basename(mount_dir.rstrip("/"))
        rel = os.path.relpath(mounted_file, mount_dir)
        dirs = "".join("/:" + p for p in os.path.dirname(rel).split("/") if p) + "/:"
        vm = (volume, dirs, os.path.basename(rel))
        entries.append(f'<ENTRY TITLE="M">{loc_xml(*vm)}<TEMPO BPM="120"></TEMPO></ENTRY>')
        extra = f'<ENTRY><PRIMARYKEY TYPE="TRACK" KEY={quoteattr(key(vm))}></PRIMARYKEY></ENTRY>'
    pk = lambda v: f'<ENTRY><PRIMARYKEY TYPE="TRACK" KEY={quoteattr(key(v))}></PRIMARYKEY></ENTRY>'
    nml = f'''<?xml version="1.0" encoding="UTF-8" standalone="no" ?>
<NML VERSION="19"><HEAD COMPANY="www.native-instruments.com" PROGRAM="Traktor"></HEAD>
<MUSICFOLDERS></MUSICFOLDERS>
<COLLECTION ENTRIES="{len(entries)}">{"".join(entries)}</COLLECTION>
<SETS ENTRIES="0"></SETS>
<PLAYLISTS><NODE TYPE="FOLDER" NAME="$ROOT"><SUBNODES COUNT="4">
<NODE TYPE="PLAYLIST" NAME="_LOOPS"><PLAYLIST ENTRIES="0" TYPE="LIST" UUID="1"></PLAYLIST></NODE>
<NODE TYPE="FOLDER" NAME="A"><SUBNODES COUNT="1"><NODE TYPE="FOLDER" NAME="B"><SUBNODES COUNT="1">
<NODE TYPE="PLAYLIST" NAME="Peak/Time"><PLAYLIST ENTRIES="3" TYPE="LIST" UUID="2">{pk(vc)}{pk(va)}{pk(("C:", "/:Music/:", "x.mp3"))}{extra}</PLAYLIST></NODE>
</SUBNODES></NODE></SUBNODES></NODE>
<NODE TYPE="SMARTLIST" NAME="Smart"><SMARTLIST UUID="3"><SEARCH_EXPRESSION VERSION="1" QUERY="$RATING > 3"></SEARCH_EXPRESSION></SMARTLIST></NODE>
<NODE TYPE="PLAYLIST" NAME="Empty Finds"><PLAYLIST ENTRIES="1" TYPE="LIST">{pk(("C:", "/:Music/:", "x.mp3"))}</PLAYLIST></NODE>
</SUBNODES></NODE></PLAYLISTS>
<INDEXING></INDEXING></NML>
'''
    with open(os.path.join(out, "collection.nml"), "w", encoding="utf-8") as f:
        f.write(nml)


def virtualdj(out, music):
    a, b, c = make_music(music)
    q = quoteattr
    songs = f'''<?xml version="1.0" encoding="UTF-8"?>
<VirtualDJ_Database Version="8.2">
 <Song FilePath={q(a)} FileSize="1000">
  <Tags Author="X" Title="A" Bpm="0.5" Key="Am" Stars="7" />
  <Infos SongLength="3.0" />
  <Scan Version="801" Bpm="0.46875" AltBpm="0.9375" Volume="1.0" Key="C" Flag="1" />
  <Poi Pos="0.2" Type="beatgrid" />
  <Poi Name="Drop ä" Pos="32.5" Num="3" Type="cue" />
  <Poi Name="Intro" Pos="1.25" Num="1" />
  <Poi Pos="40" Type="cue" />
  <Poi Pos="12" Type="cue" />
  <Poi Pos="2" Type="remix" Num="2" />
  <Poi Pos="nan" Type="cue" Num="4" />
  <Poi Pos="5" Type="cue" Num="99999999999999999999" />
  <Poi Pos="90000" Type="cue" Num="5" />
 </Song>
 <Song FilePath={q(b)}>
  <Scan Bpm="0.1" Key="G" />
  <Tags Bpm="0.46875" Stars="" />
 </Song>
 <Song FilePath={q(c)}>
  <Scan Bpm="0.5" />
  <Tags Bpm="3.5" Key="F#m" />
  <Poi Pos="1" Type="beatgrid" />
  <Poi Pos="2.5" Type="beatgrid" />
 </Song>
 <Song FilePath={q(os.path.join(music, "gone.mp3"))}><Scan Bpm="0.5" /></Song>
 <Song FilePath="C:\\Music\\x.mp3" />
 <Song FilePath={q(music)} />
</VirtualDJ_Database>
'''
    with open(os.path.join(out, "database.xml"), "w", encoding="utf-8") as f:
        f.write(songs)
    folder = lambda *paths: '<?xml version="1.0" encoding="UTF-8"?>\n<VirtualFolder>\n' + "".join(
        f' <song path={q(p)} size="1" songlength="3" idx="{i}" />\n' for i, p in enumerate(paths)) + "</VirtualFolder>\n"
    files = {
        "Playlists/House/Deep.vdjfolder": folder(c, a, os.path.join(music, "gone.mp3")),
        "Playlists/Top.vdjfolder": folder(b),
        "Playlists/Broken.vdjfolder": "<VirtualFolder><song path=",
        "Playlists/Upper.VDJFOLDER": folder(a),
        "MyLists/Sets/Friday.vdjfolder": folder(a, b),
        "MyLists/Nothing Here.vdjfolder": folder(os.path.join(music, "gone.mp3")),
    }
    for rel, text in files.items():
        path = os.path.join(out, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)


if __name__ == "__main__":
    kind, out, music = sys.argv[1:4]
    os.makedirs(out, exist_ok=True)
    if kind == "itunes":
        itunes(out, music)
    elif kind == "traktor":
        traktor(out, music, sys.argv[4] if len(sys.argv) > 4 else None)
    elif kind == "virtualdj":
        virtualdj(out, music)
    else:
        sys.exit("unknown kind " + kind)
