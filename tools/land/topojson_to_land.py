#!/usr/bin/env python3
"""Converts the land outlines of a TopoJSON topology (the "land" object of the
world-atlas package's land-50m.json or land-110m.json, drawn from Natural
Earth) into the compact file the program draws its azimuthal map from.

    tools/land/topojson_to_land.py land-50m.json assets/land.bin

The output, little-endian:
    8 bytes   "ORBLAND1"
    uint32    number of polygons
    per polygon:
      uint32  number of rings (the first is the outline, the others holes)
      per ring:
        uint32  number of points
        points  int16 longitude * 32767 / 180, int16 latitude * 32767 / 90

Rings keep the order of their points in the topology. Only the standard
library is used, so the conversion runs anywhere Python 3 does.
"""

import json
import struct
import sys


def decode_arcs(topology):
    """The arcs as lists of (lon, lat), undoing the delta encoding and the
    quantisation transform."""
    transform = topology.get("transform")
    arcs = []
    for arc in topology["arcs"]:
        points = []
        x = y = 0
        for position in arc:
            if transform:
                x += position[0]
                y += position[1]
                sx, sy = transform["scale"]
                tx, ty = transform["translate"]
                points.append((x * sx + tx, y * sy + ty))
            else:
                points.append((position[0], position[1]))
        arcs.append(points)
    return arcs


def ring(arcs, indexes):
    """A ring from its arc indexes; a negative index ~i is arc i reversed.
    Consecutive arcs share their end point, which is kept once."""
    points = []
    for index in indexes:
        arc = arcs[index] if index >= 0 else list(reversed(arcs[~index]))
        points.extend(arc if not points else arc[1:])
    return points


def polygons(topology, arcs):
    for geometry in topology["objects"]["land"]["geometries"]:
        if geometry["type"] == "Polygon":
            yield [ring(arcs, r) for r in geometry["arcs"]]
        elif geometry["type"] == "MultiPolygon":
            for polygon in geometry["arcs"]:
                yield [ring(arcs, r) for r in polygon]


def quantise(value, limit):
    return max(-32767, min(32767, round(value * 32767 / limit)))


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    with open(sys.argv[1], encoding="utf-8") as source:
        topology = json.load(source)
    arcs = decode_arcs(topology)
    out = bytearray(b"ORBLAND1")
    all_polygons = list(polygons(topology, arcs))
    out += struct.pack("<I", len(all_polygons))
    points = 0
    for polygon in all_polygons:
        out += struct.pack("<I", len(polygon))
        for r in polygon:
            out += struct.pack("<I", len(r))
            for lon, lat in r:
                out += struct.pack("<hh", quantise(lon, 180), quantise(lat, 90))
            points += len(r)
    with open(sys.argv[2], "wb") as target:
        target.write(out)
    print(f"{len(all_polygons)} polygons, {points} points, {len(out)} bytes")


if __name__ == "__main__":
    main()
