#!/usr/bin/python3
"""Packets through the emulated chip, checked by a decoder this project did not write (scapy).

Each case plays a scenario that programs one kind of translation, sends a capture through the
chip's tables with `vyrnat-host --pcap-in/--pcap-out`, and checks every packet that leaves:
addresses and ports translated as configured, the IPv4 and TCP/UDP checksums valid (a UDP
checksum of 0 left 0, TCP over fragments checked on the reassembled datagram), and every other
byte as it came in. The random case sends random packets through random configurations and
checks every emitted packet the same way, without expectations of its own.

usage: packet_decoder.py VYRNAT_HOST CASE      (CASE: one of CASES, or "random")
       packet_decoder.py pair IN.pcap OUT.pcap  (every packet of OUT checked against IN)
"""

import os
import random
import subprocess
import sys
import tempfile

from scapy.all import Dot1Q, Ether, ICMP, IP, TCP, UDP, Raw, fragment, rdpcap, wrpcap
from scapy.utils import checksum

GONE = "gone"  # trapped or dropped: nothing leaves


def frame(ip, vlan=100):
    eth = Ether(src="02:00:00:00:00:02", dst="02:00:00:00:00:01")
    return eth / Dot1Q(vlan=vlan) / ip if vlan is not None else eth / ip


def tcp(src, sport, dst, dport, size=24, **ip):
    return IP(src=src, dst=dst, **ip) / TCP(sport=sport, dport=dport, flags="A") / Raw(bytes(i % 256 for i in range(size)))


def udp(src, sport, dst, dport, size=24, nocsum=False):
    p = IP(src=src, dst=dst) / UDP(sport=sport, dport=dport) / Raw(bytes(i % 256 for i in range(size)))
    if nocsum:
        p[UDP].chksum = 0
    return p


def icmp(src, dst):
    return IP(src=src, dst=dst) / ICMP(id=7, seq=1) / Raw(b"ping")


def fragments(ip, size=64):
    """The fragments of `ip` (a TCP or UDP datagram with its checksum computed whole)."""
    return fragment(IP(bytes(ip)), fragsize=size)


# Scenario text, then (packet, expectation) pairs. An expectation is None (leaves unchanged),
# GONE, or the translated values {"src", "sport", "dst", "dport"} the configuration asks for.
STATIC = """
chip: {profile: default}
steps:
  - at: 1
    vlanProfile: {100: 3}
    nextHop: {10.0.0.20: 5, 10.0.0.21: 0x80000007}
    static:
      - {intf: NatProfile3, local: "10.0.0.5:80", global: "192.0.2.7:8080", target: source,
         protocol: tcp, filter: [0.0.0.0/0]}
      - {intf: NatProfile3, local: "10.0.0.7:53", global: "192.0.2.17:5353", target: source,
         protocol: udp, filter: [203.0.113.0/24]}
      - {intf: NatProfile3, local: 10.0.0.6, global: 192.0.2.8, target: source,
         acl: PARTNERS, filter: [198.51.100.0/24]}
      - {intf: NatProfile3, local: 10.0.0.20, global: 192.0.2.20, target: destination,
         filter: [198.51.100.0/24]}
      - {intf: NatProfile3, local: "10.0.0.21:8443", global: "192.0.2.21:443",
         target: destination, protocol: tcp, filter: [203.0.113.0/24]}
"""


def static_case():
    big = tcp("10.0.0.5", 80, "198.51.100.1", 443, size=300, id=77)
    out = [
        (tcp("10.0.0.5", 80, "198.51.100.1", 443), {"src": "192.0.2.7", "sport": 8080}),
        (udp("10.0.0.7", 53, "203.0.113.4", 999), {"src": "192.0.2.17", "sport": 5353}),
        (udp("10.0.0.7", 53, "203.0.113.4", 999, nocsum=True), {"src": "192.0.2.17", "sport": 5353}),
        (udp("10.0.0.6", 5000, "198.51.100.9", 53), {"src": "192.0.2.8"}),
        (udp("10.0.0.6", 5000, "203.0.113.9", 53), None),  # outside the rule's prefix
        (tcp("198.51.100.1", 1234, "192.0.2.20", 22), {"dst": "10.0.0.20"}),
        (icmp("198.51.100.1", "192.0.2.20"), {"dst": "10.0.0.20"}),
        (tcp("203.0.113.1", 1234, "192.0.2.21", 443), {"dst": "10.0.0.21", "dport": 8443}),
        (tcp("198.51.100.1", 1234, "192.0.2.21", 443), None),  # outside the rule's prefix
        (tcp("10.0.0.5", 81, "198.51.100.1", 443), None),  # another port: no rule
    ]
    frags = fragments(big)
    out.append((frags[0], {"src": "192.0.2.7", "sport": 8080}))
    out += [(f, {"src": "192.0.2.7"}) for f in frags[1:]]
    return STATIC, [], out


# SNAT connections spread over SNAT1, SNAT2 and DNAT1 on a profile without full-cone DNAT (which
# gives DNAT1 to DNAT alone) that matches the real destination in SNAT1; the default profile
# matches it in metadata and uses SNAT1 alone.
DYNAMIC = """
chip:
  profile: default
  fields: {snat1TableSize: 1, snat2TableSize: 1, dnat1TableSize: 2, dnat2TableSize: 2,
           dynFullConeDnatSupported: false, snatDynFullConeSupported: false}
natHwCapabilities: {dynamicConnectionTableSize: 1024}
steps:
  - at: 1
    vlanProfile: {100: 3}
    connections:
      - {kind: snat, proto: tcp, src: "10.1.0.1:40001", dst: "198.51.100.1:443", to: "192.0.2.1:1024", profile: 3}
      - {kind: snat, proto: tcp, src: "10.1.0.2:40002", dst: "198.51.100.1:443", to: "192.0.2.1:1025", profile: 3}
      - {kind: snat, proto: udp, src: "10.1.0.3:5000", dst: "198.51.100.2:53", to: "192.0.2.1:1026", profile: 3}
      - {kind: snat, proto: udp, src: 10.1.0.9, dst: 0.0.0.0, to: 192.0.2.9, profile: 3}
      - {kind: dnat, proto: tcp, src: "198.51.100.7:1111", dst: "192.0.2.30:80", to: "10.1.0.30:8080", profile: 3, nextHop: 5}
      - {kind: dnat, proto: udp, src: "198.51.100.7:2222", dst: "192.0.2.31:53", to: "10.1.0.31:53", profile: 3, nextHop: 0x80000003}
      - {kind: dnat, proto: tcp, src: "198.51.100.8:3333", dst: "192.0.2.32:25", to: 10.1.0.32, profile: 3, nextHop: 7}
      - {kind: dnat, proto: udp, src: 0.0.0.0, dst: 192.0.2.33, to: 10.1.0.33, profile: 3, nextHop: 9}
"""


def dynamic_case():
    big = tcp("10.1.0.1", 40001, "198.51.100.1", 443, size=200, id=91)
    out = [
        (tcp("10.1.0.1", 40001, "198.51.100.1", 443), {"src": "192.0.2.1", "sport": 1024}),
        (tcp("10.1.0.2", 40002, "198.51.100.1", 443), {"src": "192.0.2.1", "sport": 1025}),
        (udp("10.1.0.3", 5000, "198.51.100.2", 53), {"src": "192.0.2.1", "sport": 1026}),
        (udp("10.1.0.9", 7, "203.0.113.1", 9), {"src": "192.0.2.9"}),
        (tcp("198.51.100.7", 1111, "192.0.2.30", 80), {"dst": "10.1.0.30", "dport": 8080}),
        (udp("198.51.100.7", 2222, "192.0.2.31", 53), {"dst": "10.1.0.31"}),
        (tcp("198.51.100.8", 3333, "192.0.2.32", 25), {"dst": "10.1.0.32"}),
        (udp("198.51.100.9", 1, "192.0.2.33", 2), {"dst": "10.1.0.33"}),
        (tcp("10.1.0.1", 40009, "198.51.100.1", 443), None),  # no such connection
    ]
    frags = fragments(big)
    out.append((frags[0], {"src": "192.0.2.1", "sport": 1024}))
    out += [(f, {"src": "192.0.2.1"}) for f in frags[1:]]
    return DYNAMIC, [], out


def dynamic_metadata_case():
    text = DYNAMIC.replace(",\n           dynFullConeDnatSupported: false, snatDynFullConeSupported: false", "")
    return text.replace("snat1TableSize: 1", "snat1TableSize: 8"), [], dynamic_case()[2]


PARTITIONED = """
chip:
  profile: partitioned
  fields: {dnatPartitionBankSize: "1, 1, 1, 0", snatPartitionBankSize: "1, 1, 1"}
natHwCapabilities: {dynamicConnectionTableSize: 1024}
steps:
  - at: 1
    vlanProfile: {100: 2}
    connections:
      - {kind: snat, proto: tcp, src: "10.1.0.1:1", dst: "198.51.100.1:443", to: "192.0.2.1:1001", profile: 2}
      - {kind: snat, proto: tcp, src: "10.1.0.2:2", dst: "198.51.100.1:443", to: "192.0.2.1:1002", profile: 2}
      - {kind: snat, proto: udp, src: "10.1.0.3:3", dst: "198.51.100.1:53", to: "192.0.2.1:1003", profile: 2}
      - {kind: dnat, proto: tcp, src: "198.51.100.7:1", dst: "192.0.2.30:80", to: "10.1.0.30:8080", profile: 2}
      - {kind: dnat, proto: tcp, src: "198.51.100.7:2", dst: "192.0.2.30:81", to: "10.1.0.31:8081", profile: 2}
      - {kind: dnat, proto: udp, src: "198.51.100.7:3", dst: "192.0.2.30:53", to: "10.1.0.32:53", profile: 2}
"""


def partitioned_case():
    return PARTITIONED, [], [
        (tcp("10.1.0.1", 1, "198.51.100.1", 443), {"src": "192.0.2.1", "sport": 1001}),
        (tcp("10.1.0.2", 2, "198.51.100.1", 443), {"src": "192.0.2.1", "sport": 1002}),
        (udp("10.1.0.3", 3, "198.51.100.1", 53), {"src": "192.0.2.1", "sport": 1003}),
        (tcp("198.51.100.7", 1, "192.0.2.30", 80), {"dst": "10.1.0.30", "dport": 8080}),
        (tcp("198.51.100.7", 2, "192.0.2.30", 81), {"dst": "10.1.0.31", "dport": 8081}),
        (udp("198.51.100.7", 3, "192.0.2.30", 53), {"dst": "10.1.0.32"}),
    ]


TWICE = """
chip: {profile: default}
steps:
  - at: 1
    vlanProfile: {100: 3}
    twiceNat:
      - {srcOld: "10.4.0.1:1000", dstOld: "198.51.100.1:80", proto: tcp,
         srcNew: "192.0.2.1:2000", dstNew: "10.9.0.1:8080", nextHop: 0x8000000c}
      - {srcOld: 10.4.0.2, dstOld: 198.51.100.2, srcNew: 192.0.2.2, dstNew: 10.9.0.2}
      - {srcOld: "10.4.0.3:1000", dstOld: 198.51.100.3, proto: udp, srcNew: "192.0.2.3:2000",
         dstNew: 10.9.0.3}
"""


def twice_case():
    both = {"src": "192.0.2.1", "sport": 2000, "dst": "10.9.0.1", "dport": 8080}
    frags = fragments(tcp("10.4.0.1", 1000, "198.51.100.1", 80, size=200, id=55))
    out = [
        (tcp("10.4.0.1", 1000, "198.51.100.1", 80), both),
        (udp("10.4.0.2", 5, "198.51.100.2", 6), {"src": "192.0.2.2", "dst": "10.9.0.2"}),
        (icmp("10.4.0.2", "198.51.100.2"), {"src": "192.0.2.2", "dst": "10.9.0.2"}),
        (udp("10.4.0.3", 1000, "198.51.100.3", 99), {"src": "192.0.2.3", "sport": 2000, "dst": "10.9.0.3"}),
        (udp("10.4.0.3", 1000, "198.51.100.3", 99, nocsum=True),
         {"src": "192.0.2.3", "sport": 2000, "dst": "10.9.0.3"}),
        (tcp("10.4.0.3", 1000, "198.51.100.3", 99), None),  # a UDP translation
        (frags[0], both),
    ]
    out += [(f, {"src": "192.0.2.1", "dst": "10.9.0.1"}) for f in frags[1:]]
    return TWICE, [], out


VRF = """
chip: {profile: vrfNatHop}
steps:
  - at: 1
    vrf:
      - {name: red, id: 10, src: {10.10.0.1: 192.0.2.101}, dst: {192.0.2.110: 10.10.0.10},
         policer: {rate: 100000, burst: 8000}}
"""


def vrf_red_case():
    return VRF, ["--pcap-vrf", "10"], [
        (udp("10.10.0.1", 5, "8.8.8.8", 53), {"src": "192.0.2.101"}),
        (tcp("10.10.0.1", 5, "8.8.8.8", 53), {"src": "192.0.2.101"}),
        (udp("10.10.0.2", 5, "8.8.8.8", 53), None),
    ]


def vrf_default_case():
    return VRF, [], [
        (udp("8.8.8.8", 53, "192.0.2.110", 5), {"dst": "10.10.0.10"}),
        (udp("10.10.0.1", 5, "8.8.8.8", 53), None),  # the source translation is VRF 10's
    ]


EGRESS = """
chip: {profile: egressNat}
steps:
  - at: 1
    vlanProfile: {200: 5}
    static:
      - {intf: NatProfile5, local: "10.2.0.1:53", global: "192.0.2.53:5353", target: source,
         protocol: udp, ingress: true, filter: [0.0.0.0/0]}
      - {intf: NatProfile5, local: 10.2.0.10, global: 192.0.2.10, target: source,
         egressTarget: true}
      - {intf: NatProfile5, local: "10.2.0.11:8080", global: "192.0.2.11:80",
         target: destination, protocol: tcp, egressTarget: true}
"""


def egress_case():
    frags = fragments(udp("10.2.0.10", 5, "8.8.8.8", 53, size=200))
    out = [
        (udp("10.2.0.1", 53, "8.8.8.8", 53), {"src": "192.0.2.53", "sport": 5353}),
        (udp("10.2.0.10", 5, "8.8.8.8", 53), {"src": "192.0.2.10"}),
        (tcp("8.8.8.8", 5, "192.0.2.11", 80), {"dst": "10.2.0.11", "dport": 8080}),
        (tcp("8.8.8.8", 5, "192.0.2.11", 81), GONE),  # the drop entry of the port translation
    ]
    out += [(f, {"src": "192.0.2.10"}) for f in frags]
    web = fragments(tcp("8.8.8.8", 5, "192.0.2.11", 80, size=200, id=66))
    out.append((web[0], {"dst": "10.2.0.11", "dport": 8080}))
    out += [(f, {"dst": "10.2.0.11"}) for f in web[1:]]
    return EGRESS, [], [(frame(p, 200), e) for p, e in out]


# First packets of dynamic NAT rules trap to the CPU and do not leave; a denied source, one no
# rule names, and a connection already programmed pass the hardware.
TRAPS = """
chip: {profile: default}
natHwCapabilities: {dynamicConnectionTableSize: 1024}
steps:
  - at: 1
    vlanProfile: {100: 1}
    acls:
      inside:
        - {seq: 10, deny: true, src: 10.1.0.99/32}
        - {seq: 20, proto: tcp, src: 10.1.0.0/16}
    pools: {public: 1}
    dynamicRules:
      - {intf: NatProfile1, acl: inside, pool: public, priority: 10}
    connections:
      - {kind: snat, proto: tcp, src: "10.1.0.7:4000", dst: "198.51.100.1:80", to: "192.0.2.1:1024", profile: 1}
"""


def traps_case():
    return TRAPS, [], [
        (tcp("10.1.0.5", 4000, "198.51.100.1", 80), GONE),
        (tcp("10.1.0.99", 4000, "198.51.100.1", 80), None),
        (tcp("10.2.0.5", 4000, "198.51.100.1", 80), None),
        (udp("10.1.0.5", 4000, "198.51.100.1", 53), None),
        (tcp("10.1.0.7", 4000, "198.51.100.1", 80), {"src": "192.0.2.1", "sport": 1024}),
    ]


CASES = {
    "static": static_case,
    "dynamic": dynamic_case,
    "dynamic-metadata": dynamic_metadata_case,
    "partitioned": partitioned_case,
    "twice": twice_case,
    "vrf-red": vrf_red_case,
    "vrf-default": vrf_default_case,
    "egress": egress_case,
    "traps": traps_case,
}


def run(host, scenario, args, frames, work):
    path = os.path.join(work, "scenario.yaml")
    with open(path, "w") as f:
        f.write(scenario)
    cin, cout = os.path.join(work, "in.pcap"), os.path.join(work, "out.pcap")
    wrpcap(cin, frames)
    r = subprocess.run([host, path, "--pcap-in", cin, "--pcap-out", cout] + args,
                       capture_output=True, text=True)
    if r.returncode != 0:
        sys.exit(f"vyrnat-host failed ({r.returncode}):\n{r.stdout[-3000:]}\n{r.stderr}")
    return rdpcap(cout), r.stdout


def key(p):
    return (p[IP].id, p[IP].frag)


def l3(p):
    """The frame's bytes as captured and the offset of its IPv4 header. Checks read bytes, not
    scapy's re-serialization, which need not give back what it dissected."""
    raw = bytes(p.original) if getattr(p, "original", None) else bytes(p)
    return raw, 18 if raw[12:14] == b"\x81\x00" else 14


def l4sum(proto, ip, data):
    """The one's-complement sum of the pseudo header and `data`: 0 when the checksum in it is valid."""
    pseudo = ip[12:20] + bytes([0, proto]) + len(data).to_bytes(2, "big")
    return checksum(pseudo + data)


class Checker:
    def __init__(self):
        self.faults = []
        self.checked = 0

    def fault(self, what, p):
        self.faults.append(f"{what}: {p[IP].summary()} id={p[IP].id} frag={p[IP].frag}")

    def packet(self, sent, got):
        """Checksums of `got`, and every byte of it as `sent` but the translated fields."""
        self.checked += 1
        raw, off = l3(got)
        ip = raw[off:]
        ihl, total, proto = (ip[0] & 15) * 4, int.from_bytes(ip[2:4], "big"), ip[9]
        if checksum(ip[:ihl]) != 0:
            self.fault("bad IPv4 header checksum", got)
        frag = int.from_bytes(ip[6:8], "big")
        whole = frag & 0x3FFF == 0
        l4 = ip[ihl:total]
        if whole and proto in (6, 17):
            sentRaw, sentOff = l3(sent)
            if proto == 17 and l4[6:8] == b"\0\0":
                if sentRaw[sentOff + ihl + 6:sentOff + ihl + 8] != b"\0\0":
                    self.fault("UDP checksum became 0", got)
            elif l4sum(proto, ip, l4) != 0:
                self.fault("bad L4 checksum", got)
        if whole and proto == 1 and checksum(l4) != 0:
            self.fault("bad ICMP checksum", got)
        # Every byte but the addresses, the ports and the checksums as it came in.
        sentRaw, _ = l3(sent)
        free = set(range(off + 10, off + 20))
        if frag & 0x1FFF == 0 and proto in (6, 17):
            free |= set(range(off + ihl, off + ihl + 4))
            free |= set(range(off + ihl + (16 if proto == 6 else 6), off + ihl + (18 if proto == 6 else 8)))
        if len(sentRaw) != len(raw) or any(a != b for i, (a, b) in enumerate(zip(sentRaw, raw)) if i not in free):
            self.fault("changed beyond the translated fields", got)

    def reassembled(self, got):
        """TCP and UDP checksums of fragmented datagrams, over the reassembled payload."""
        groups = {}
        for p in got:
            raw, off = l3(p)
            ip = raw[off:]
            frag = int.from_bytes(ip[6:8], "big")
            if frag & 0x3FFF:
                groups.setdefault((ip[4:6], ip[12:20], ip[9]), []).append((frag & 0x1FFF, frag & 0x2000, ip, p))
        for (_, _, proto), parts in groups.items():
            parts.sort(key=lambda x: x[0])
            data = b"".join(ip[(ip[0] & 15) * 4:int.from_bytes(ip[2:4], "big")] for _, _, ip, _ in parts)
            if proto in (6, 17) and parts[0][0] == 0 and not parts[-1][1]:
                if not (proto == 17 and data[6:8] == b"\0\0") and l4sum(proto, parts[0][2], data) != 0:
                    self.fault("bad L4 checksum of the reassembled datagram", parts[0][3])


def check_case(host, name, work):
    scenario, args, cases = CASES[name]()
    frames = []
    for i, (p, _) in enumerate(cases):
        f = p if p.haslayer(Ether) else frame(p, None if name.startswith("vrf") else 100)
        if not p.haslayer(IP) or p[IP].frag == 0 and not p[IP].flags.MF:
            f[IP].id = 1000 + i  # fragments keep their datagram's id
        frames.append(Ether(bytes(f)))
    got, _ = run(host, scenario, args, frames, work)
    c = Checker()
    byKey = {key(p): p for p in got}
    if len(byKey) != len(got):
        c.faults.append("two packets left with one IP id and offset")
    for sent, (_, expect) in zip(frames, cases):
        out = byKey.pop(key(sent), None)
        if expect == GONE:
            if out is not None:
                c.fault("left, but should have been trapped or dropped", sent)
            continue
        if out is None:
            c.fault("did not leave", sent)
            continue
        c.packet(sent, out)
        want = dict(src=sent[IP].src, dst=sent[IP].dst)
        l4 = TCP if sent.haslayer(TCP) else UDP if sent.haslayer(UDP) else None
        if l4:
            want.update(sport=sent[l4].sport, dport=sent[l4].dport)
        want.update(expect or {})
        have = dict(src=out[IP].src, dst=out[IP].dst)
        if l4:
            have.update(sport=out[l4].sport, dport=out[l4].dport)
        if any(have.get(k) != v for k, v in want.items()):
            c.fault(f"translated to {have}, configured {want}", sent)
    if byKey:
        c.faults.append(f"{len(byKey)} packets left that were never sent")
    c.reassembled(got)
    return c


def random_case(host, work):
    seed = int(os.environ.get("VYRNAT_SEED", "20261207"))
    print(f"seed {seed} (VYRNAT_SEED={seed} replays it)")
    rnd = random.Random(seed)
    c = Checker()
    for run_no in range(4):
        inside = [f"10.{run_no}.{rnd.randrange(256)}.{i}" for i in range(1, 9)]
        outside = [f"192.0.{run_no}.{i}" for i in range(1, 9)]
        peers = [f"198.51.100.{rnd.randrange(1, 255)}" for _ in range(4)]
        lines = ["chip: {profile: default}",
                 "natHwCapabilities: {dynamicConnectionTableSize: 1024}",
                 "steps:", "  - at: 1", "    vlanProfile: {100: 3}", "    static:"]
        tuples = []
        for i in range(4):
            proto = rnd.choice(["tcp", "udp"])
            if rnd.random() < 0.5:
                lines.append(f'      - {{intf: NatProfile3, local: "{inside[i]}:{80 + i}", '
                             f'global: "{outside[i]}:{8000 + i}", protocol: {proto}}}')
                tuples.append((proto, inside[i], 80 + i, rnd.choice(peers), rnd.randrange(1, 65536)))
            else:
                lines.append(f"      - {{intf: NatProfile3, local: {inside[i]}, global: {outside[i]}, "
                             f"target: {rnd.choice(['source', 'destination'])}}}")
                tuples.append((proto, inside[i], rnd.randrange(1, 65536), rnd.choice(peers), 53))
                tuples.append((proto, rnd.choice(peers), rnd.randrange(1, 65536), outside[i], 443))
        lines.append("    connections:")
        for i in range(4, 8):
            proto, peer, pport = rnd.choice(["tcp", "udp"]), rnd.choice(peers), rnd.randrange(1, 65536)
            lines.append(f'      - {{kind: snat, proto: {proto}, src: "{inside[i]}:{1000 + i}", '
                         f'dst: "{peer}:{pport}", to: "{outside[i]}:{2000 + i}", profile: 3}}')
            tuples.append((proto, inside[i], 1000 + i, peer, pport))
        lines.append("    twiceNat:")
        lines.append(f'      - {{srcOld: "{inside[0]}:7", dstOld: "{peers[0]}:9", proto: udp, '
                     f'srcNew: "{outside[7]}:70", dstNew: "{inside[7]}:90"}}')
        tuples.append(("udp", inside[0], 7, peers[0], 9))
        frames = []
        for n in range(60):
            if rnd.random() < 0.7:
                proto, src, sport, dst, dport = rnd.choice(tuples)
            else:
                proto = rnd.choice(["tcp", "udp", "icmp", "gre"])
                src, dst = rnd.choice(inside + peers), rnd.choice(outside + peers)
                sport, dport = rnd.randrange(1, 65536), rnd.randrange(1, 65536)
            size = rnd.randrange(0, 300)
            if proto == "tcp":
                p = tcp(src, sport, dst, dport, size=size)
            elif proto == "udp":
                p = udp(src, sport, dst, dport, size=size, nocsum=rnd.random() < 0.2)
            elif proto == "icmp":
                p = icmp(src, dst)
            else:
                p = IP(src=src, dst=dst, proto=47) / Raw(bytes(size))
            p[IP].id = n + 1
            parts = fragments(p, 64) if size > 100 and rnd.random() < 0.5 else [p]
            frames += [Ether(bytes(frame(f))) for f in parts]
        got, _ = run(host, "\n".join(lines) + "\n", [], frames, work)
        check_left(c, frames, got)
    return c


def check_left(c, sent_frames, got):
    """Each packet that left against the one sent with its IP id and offset, then the reassembled
    datagrams."""
    sent = {key(f): f for f in sent_frames}
    for p in got:
        s = sent.get(key(p))
        if s is None:
            c.fault("left but was never sent", p)
        else:
            c.packet(s, p)
    c.reassembled(got)


def pair_case(cin, cout):
    """Captures made elsewhere: each packet that left, by IP id and offset, against the one sent."""
    c = Checker()
    check_left(c, rdpcap(cin), rdpcap(cout))
    return c


def main():
    host, name = sys.argv[1], sys.argv[2]
    if host == "pair":
        name, c = "pair", pair_case(sys.argv[2], sys.argv[3])
    else:
        with tempfile.TemporaryDirectory() as work:
            c = random_case(host, work) if name == "random" else check_case(host, name, work)
    for f in c.faults:
        print("FAULT", f)
    print(f"{name}: {c.checked} packets checked, {len(c.faults)} faults")
    sys.exit(1 if c.faults or c.checked == 0 else 0)


if __name__ == "__main__":
    main()
