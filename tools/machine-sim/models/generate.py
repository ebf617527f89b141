#!/usr/bin/env python3
"""Writes the shipped EDS files of machine-sim. The .eds files are the product; this script
keeps their many shared objects in one place. Run it from any folder after a change here."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

U8, U16, U32, I8, I16, I32, F32 = 0x5, 0x6, 0x7, 0x2, 0x3, 0x4, 0x8
VSTR, OSTR, DOMAIN = 0x9, 0xA, 0xF


def var(name, dtype, access, default=None, low=None, high=None):
    return dict(name=name, type=dtype, access=access, default=default, low=low, high=high)


def octets(b):
    return b.hex().upper()


def array(name, sub0_access, entries, object_type=0x8):
    """entries: list of var dicts for sub-indices 1..n."""
    subs = [var("Highest sub-index supported", U8, sub0_access, len(entries))] + entries
    return dict(name=name, object_type=object_type, subs=subs)


def error_entry(data_a, minutes, data_c, data_d, ident, counter, state, flag, field):
    return struct.pack("<HHHHIBBBB", data_a, minutes, data_c, data_d, ident, counter, state, flag, field)


MODELS = {
    # file stem: (product, machine number, software version (major, minor, patch), application?)
    "wren": ("Wren", 1, (2, 4, 1)),
    "wren-2": ("Wren", 2, (2, 4, 1)),
    "finch": ("Finch", 3, (1, 12, 3)),
    "swift": ("Swift", 4, (3, 1, 0)),
    "crane": ("Crane", 5, (2, 5, 13)),
    "robin": ("Robin", 6, (1, 0, 7)),
    "kestrel": ("Kestrel", 9, (4, 2, 0)),
}


def communication(product, number, version, bootloader=False):
    major, minor, patch = version
    o = {}
    o[0x1000] = var("Device type", U32, "ro", 0)
    o[0x1001] = var("Error register", U8, "ro", 0)
    o[0x1008] = var("Manufacturer device name", VSTR, "const", product if not bootloader else "Bootloader")
    o[0x100A] = var("Manufacturer software version", VSTR, "const", f"{major}.{minor:02d}.{patch:02d}")
    if not bootloader:
        o[0x1016] = array("Consumer heartbeat time", "ro", [var(f"Consumer heartbeat time {i}", U32, "rw", 0) for i in range(1, 5)])
    o[0x1017] = var("Producer heartbeat time", U16, "rw", 1000)
    o[0x1018] = array("Identity object", "ro", [
        var("Vendor-ID", U32, "ro", "0x00000ABC"),
        var("Product code", U32, "ro", number),
        var("Revision number", U32, "ro", "0x%08X" % ((major << 16) | (minor << 8) | patch)),
        var("Serial number", U32, "ro", 0x1000 + number),
    ], object_type=0x9)
    o[0x1200] = array("SDO server parameter", "ro", [
        var("COB-ID client to server", U32, "ro", "$NODEID+0x600"),
        var("COB-ID server to client", U32, "ro", "$NODEID+0x580"),
    ], object_type=0x9)
    o[0x1F50] = array("Program data", "ro", [var("Program data 1", DOMAIN, "wo")])
    o[0x1F51] = array("Program control", "ro", [var("Program control 1", U8, "rw", 0)])
    o[0x1F57] = array("Flash status", "ro", [var("Flash status 1", U32, "ro", 0)])
    return o


def identity_bytes(number):
    serial = f"SN{number:02d}-00042731".encode()[:13].ljust(13, b"\0")
    material = f"MAT-{number:03d}-77120".encode()[:13].ljust(13, b"\0")
    return serial, material


def application(product, number, version):
    major, minor, patch = version
    o = {}
    kestrel = number == 9
    o[0x2000] = array("Machine type", "ro", [var("Machine type record", OSTR, "ro", octets(struct.pack("<HHH", 1, number, 0)))], 0x9)
    if kestrel:
        o[0x2001] = array("Module mode", "ro", [var("Module mode", U32, "rw", 1, low=1, high=6)], 0x9)
    else:
        o[0x5600] = array("Machine mode", "ro", [var("Machine mode", U32, "rw", 0, low=0, high=2)], 0x9)
    o[0x2222] = array("Diagnose session", "ro", [var("Diagnose session", U8, "rw", 0)], 0x9)

    # Machine parameters, one object per value type.
    o[0x3000] = array("Parameters U8", "ro", [var(f"Parameter U8 {i}", U8, "rw", (i * 7 + number) % 256) for i in range(1, 17)])
    o[0x3001] = array("Parameters U16", "ro", [var(f"Parameter U16 {i}", U16, "rw", 1000 + 10 * i + number) for i in range(1, 17)])
    o[0x3002] = array("Parameters U32", "ro", [var(f"Parameter U32 {i}", U32, "rw", 100000 * i + number) for i in range(1, 9)])
    o[0x3003] = array("Parameters I8", "ro", [var(f"Parameter I8 {i}", I8, "rw", -10 * i) for i in range(1, 5)])
    o[0x3004] = array("Parameters I16", "ro", [var(f"Parameter I16 {i}", I16, "rw", -1000 * i) for i in range(1, 5)])
    o[0x3005] = array("Parameters I32", "ro", [var(f"Parameter I32 {i}", I32, "rw", -100000 * i) for i in range(1, 5)])
    o[0x3006] = array("Parameters float", "ro", [var(f"Parameter float {i}", F32, "rw", f"{i}.5") for i in range(1, 5)])

    # Operating-hours counters in seconds; 0x4002 sub 1 is the main counter.
    o[0x4000] = array("Op hours counters U8", "ro", [var(f"Counter U8 {i}", U8, "rw", 0) for i in range(1, 3)])
    o[0x4001] = array("Op hours counters U16", "ro", [var(f"Counter U16 {i}", U16, "rw", 0) for i in range(1, 3)])
    o[0x4002] = array("Op hours counters U32", "ro", [var(f"Counter U32 {i}", U32, "rw", v)
                                                       for i, v in enumerate([3725000, 981000, 7200, 59], 1)])
    o[0x4003] = array("Op hours counters I8", "ro", [var("Counter I8 1", I8, "ro", 0)])
    o[0x4004] = array("Op hours counters I16", "ro", [var("Counter I16 1", I16, "ro", 0)])
    o[0x4005] = array("Op hours counters I32", "ro", [var("Counter I32 1", I32, "ro", 0)])
    o[0x4006] = array("Op hours counters float", "ro", [var("Counter float 1", F32, "ro", "0.0")])

    # Outputs, one object per value type; the converter writes U8 outputs (commands).
    o[0x5000] = array("Outputs U8", "ro", [var(f"Output {i}", U8, "rw", 0) for i in range(1, 9)])
    o[0x5001] = array("Outputs U16", "ro", [var(f"Output U16 {i}", U16, "rw", 0) for i in range(1, 5)])
    o[0x5002] = array("Outputs U32", "ro", [var(f"Output U32 {i}", U32, "rw", 0) for i in range(1, 3)])
    o[0x5003] = array("Outputs I8", "ro", [var(f"Output I8 {i}", I8, "rw", 0) for i in range(1, 3)])
    o[0x5004] = array("Outputs I16", "ro", [var(f"Output I16 {i}", I16, "rw", 0) for i in range(1, 3)])
    o[0x5005] = array("Outputs I32", "ro", [var(f"Output I32 {i}", I32, "rw", 0) for i in range(1, 3)])
    o[0x5006] = array("Outputs float", "ro", [var(f"Output float {i}", F32, "rw", "0.0") for i in range(1, 3)])
    # Every input a value of its own, so that a read of the wrong one shows.
    o[0x5100] = array("Inputs U8", "ro", [var(f"Input U8 {i}", U8, "ro", 0x30 + i) for i in range(1, 9)])
    o[0x5101] = array("Inputs U16", "ro", [var(f"Input U16 {i}", U16, "ro", 500 + i) for i in range(1, 5)])
    o[0x5102] = array("Inputs U32", "ro", [var(f"Input U32 {i}", U32, "ro", 70000 + i) for i in range(1, 3)])
    o[0x5103] = array("Inputs I8", "ro", [var(f"Input I8 {i}", I8, "ro", -i) for i in range(1, 3)])
    o[0x5104] = array("Inputs I16", "ro", [var(f"Input I16 {i}", I16, "ro", -300 - i) for i in range(1, 3)])
    o[0x5105] = array("Inputs I32", "ro", [var(f"Input I32 {i}", I32, "ro", -70000 - i) for i in range(1, 3)])

    o[0x5200] = array("Measurements U8", "ro", [var(f"Measurement U8 {i}", U8, "ro", (20 + 3 * i) % 256) for i in range(1, 13)])
    o[0x5201] = array("Measurements U16", "ro", [var(f"Measurement U16 {i}", U16, "ro", 0x1200 + i) for i in range(1, 13)])
    o[0x5202] = array("Measurements U32", "ro", [var(f"Measurement U32 {i}", U32, "ro", 123456 + i) for i in range(1, 3)])
    o[0x5203] = array("Measurements I8", "ro", [var(f"Measurement I8 {i}", I8, "ro", -5 * i) for i in range(1, 3)])
    o[0x5204] = array("Measurements I16", "ro", [var(f"Measurement I16 {i}", I16, "ro", v)
                                                  for i, v in enumerate([215, -40, 1023, 7], 1)])
    o[0x5205] = array("Measurements I32", "ro", [var(f"Measurement I32 {i}", I32, "ro", v) for i, v in enumerate([-12, 4096], 1)])
    o[0x5206] = array("Measurements float", "ro", [var(f"Measurement float {i}", F32, "ro", v)
                                                    for i, v in enumerate(["12.7", "230.4", "48.25", "3.5", "0.75"], 1)])

    errors = [
        error_entry(0x0010, 125, 0x0001, 0x0002, 0x1234, 3, 1, 1, 0),
        error_entry(0x0020, 65535, 0, 0, 17, 1, 2, 0, 5),
        error_entry(0x0030, 3000, 7, 8, 42 + number, 12, 0, 1, 31),
    ]
    o[0x5300] = array("Error buffer", "ro", [var(f"Error buffer entry {i}", OSTR, "rw", octets(e)) for i, e in enumerate(errors, 1)])
    o[0x5301] = array("Error buffer state", "ro", [var("Error buffer state", U32, "ro", 0)], 0x9)
    o[0x5400] = array("Machine record 5400", "ro", [var("Record 5400", OSTR, "rw", octets(bytes(range(1, 12))))], 0x9)
    o[0x5401] = array("Software version", "ro", [var("Software version", OSTR, "ro", octets(bytes([patch, major, minor])))], 0x9)
    o[0x5402] = array("Machine record 5402", "ro", [var("Record 5402", OSTR, "rw", octets(bytes([1, 2, 3])))], 0x9)
    o[0x5403] = array("Machine records 5403", "ro", [var(f"Record 5403 {i}", OSTR, "rw", octets(bytes([i] * 26))) for i in range(1, 3)])
    serial, material = identity_bytes(number)
    o[0x5404] = array("Serial number", "ro", [var("Serial number", OSTR, "rw", octets(serial))], 0x9)
    o[0x5405] = array("Material number", "ro", [var("Material number", OSTR, "rw", octets(material))], 0x9)
    o[0x5406] = array("Firmware update control", "ro", [var("Update flag", U8, "rw", 0), var("Restart", U8, "rw", 0)], 0x9)
    o[0x5407] = array("Block transfer control", "ro", [var("Block control record", OSTR, "rw", octets(bytes(26)))], 0x9)
    o[0x5408] = array("Block transfer data", "ro", [var("Block data packet", DOMAIN, "wo")], 0x9)
    o[0x5410] = array("Machine record 5410", "ro", [var("Record 5410", OSTR, "rw", octets(bytes(60)))], 0x9)
    return o


def bootloader_objects(number):
    o = communication("Bootloader", 0, (0, 0, 0), bootloader=True)
    serial, material = identity_bytes(number)
    o[0x5404] = array("Serial number", "ro", [var("Serial number", OSTR, "ro", octets(serial))], 0x9)
    o[0x5405] = array("Material number", "ro", [var("Material number", OSTR, "ro", octets(material))], 0x9)
    o[0x5406] = array("Firmware update control", "ro", [var("Update flag", U8, "rw", 1), var("Restart", U8, "rw", 0)], 0x9)
    return o


def emit_var(lines, section, v):
    lines.append(f"[{section}]")
    lines.append(f"ParameterName={v['name']}")
    lines.append("ObjectType=0x7")
    lines.append(f"DataType=0x{v['type']:04X}")
    lines.append(f"AccessType={v['access']}")
    if v["default"] is not None:
        lines.append(f"DefaultValue={v['default']}")
    if v["low"] is not None:
        lines.append(f"LowLimit={v['low']}")
    if v["high"] is not None:
        lines.append(f"HighLimit={v['high']}")
    lines.append("PDOMapping=0")
    lines.append("")


def write_eds(stem, product, comment, objects):
    lines = [
        f"; {comment}",
        "; Written by generate.py beside this file.",
        "",
        "[FileInfo]",
        f"FileName={stem}.eds",
        "FileVersion=1",
        "FileRevision=0",
        "EDSVersion=4.0",
        f"Description=machine-sim model: {comment}",
        "CreatedBy=machine-sim",
        "",
        "[DeviceInfo]",
        "VendorName=machine-sim",
        f"ProductName={product}",
        "BaudRate_500=1",
        "SimpleBootUpSlave=1",
        "Granularity=0",
        "NrOfRXPDO=0",
        "NrOfTXPDO=0",
        "LSS_Supported=0",
        "",
    ]
    mandatory = [i for i in (0x1000, 0x1001, 0x1018) if i in objects]
    optional = [i for i in sorted(objects) if i < 0x2000 and i not in mandatory]
    manufacturer = [i for i in sorted(objects) if i >= 0x2000]
    for name, idx in (("MandatoryObjects", mandatory), ("OptionalObjects", optional), ("ManufacturerObjects", manufacturer)):
        lines.append(f"[{name}]")
        lines.append(f"SupportedObjects={len(idx)}")
        for n, i in enumerate(idx, 1):
            lines.append(f"{n}=0x{i:04X}")
        lines.append("")
    for index in sorted(objects):
        o = objects[index]
        if "subs" not in o:
            emit_var(lines, f"{index:04X}", o)
            continue
        lines.append(f"[{index:04X}]")
        lines.append(f"ParameterName={o['name']}")
        lines.append(f"ObjectType=0x{o['object_type']:X}")
        lines.append(f"SubNumber={len(o['subs'])}")
        lines.append("")
        for sub, v in enumerate(o["subs"]):
            emit_var(lines, f"{index:04X}sub{sub:X}", v)
    with open(os.path.join(HERE, f"{stem}.eds"), "w", newline="\r\n") as f:
        f.write("\n".join(lines))


def main():
    for stem, (product, number, version) in MODELS.items():
        objects = communication(product, number, version)
        objects.update(application(product, number, version))
        write_eds(stem, product, f"{product}, machine number {number}, software {version[0]}.{version[1]:02d}.{version[2]:02d}", objects)
    write_eds("bootloader", "Bootloader", "a machine running its bootloader (no application objects)",
              bootloader_objects(5))


if __name__ == "__main__":
    main()
