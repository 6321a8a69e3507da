#include "tools/scenario/PacketTrace.h"

#include <cstdio>
#include <memory>
#include <pcap/pcap.h>

namespace Scenario {

std::string tracePacket(VyrP4::Chip& chip, const VyrP4::PacketNotation& n) {
    VyrP4::Packet p = VyrP4::packetBuild(n);
    std::string out = "  packet  " + VyrP4::packetStr(p, n.meta.vrf) +
                      (n.meta.pipe ? " pipe " + std::to_string(n.meta.pipe) : "") + "\n";
    std::vector<VyrP4::StageLookup> lookups;
    const VyrP4::PacketOutcome o = VyrP4::PacketPath(chip).send(p, n.meta, &lookups);
    char line[96];
    for (std::size_t i = 0; i < lookups.size();) {
        // One stage's lookups: its hits, or the tables it found nothing in.
        std::size_t end = i;
        std::string missed;
        bool hit = false;
        while (end < lookups.size() && lookups[end].stage == lookups[i].stage) {
            const auto& l = lookups[end++];
            if (l.entry.empty()) {
                missed += missed.empty() ? l.table : std::string(", ") + l.table;
                continue;
            }
            std::snprintf(line, sizeof line, "    %-16s %-28s ", l.stage, l.table);
            out += line + l.entry + "\n";
            hit = true;
        }
        if (!hit) {
            std::snprintf(line, sizeof line, "    %-16s ", lookups[i].stage);
            out += line + ("no entry hit in " + missed) + "\n";
        }
        i = end;
    }
    return out + "  leaves  " + VyrP4::outcomeStr(o, p) + "\n";
}

std::string PcapTotals::str() const {
    return std::to_string(read) + " frames read, " + std::to_string(forwarded) + " written (" +
           std::to_string(translated) + " translated, " + std::to_string(notIpv4) +
           " untouched: not IPv4 or cut short), " + std::to_string(trapped) + " trapped to cpu, " +
           std::to_string(dropped) + " dropped";
}

namespace {

using Reader = std::unique_ptr<pcap_t, decltype(&pcap_close)>;

Reader openCapture(const std::string& in, std::string& error) {
    char err[PCAP_ERRBUF_SIZE] = "";
    Reader reader(pcap_open_offline(in.c_str(), err), &pcap_close);
    if (!reader) {
        error = "cannot read the capture " + in + ": " + err;
    } else if (pcap_datalink(reader.get()) != DLT_EN10MB) {
        error = "the capture " + in + " holds no Ethernet frames (link type " +
                std::to_string(pcap_datalink(reader.get())) + ")";
        reader.reset();
    }
    return reader;
}

} // namespace

bool pcapReadable(const std::string& in, std::string& error) {
    return openCapture(in, error) != nullptr;
}

bool pcapThrough(VyrP4::Chip& chip, const std::string& in, const std::string& out,
                 const VyrP4::IngressMeta& meta, PcapTotals& totals, std::string& error) {
    const Reader reader = openCapture(in, error);
    if (!reader) {
        return false;
    }
    std::unique_ptr<pcap_dumper_t, decltype(&pcap_dump_close)> writer(
        pcap_dump_open(reader.get(), out.c_str()), &pcap_dump_close);
    if (!writer) {
        error = "cannot write the capture " + out + ": " + pcap_geterr(reader.get());
        return false;
    }
    VyrP4::PacketPath path(chip);
    pcap_pkthdr* h = nullptr;
    const u_char* data = nullptr;
    int r = 0;
    while ((r = pcap_next_ex(reader.get(), &h, &data)) == 1) {
        ++totals.read;
        std::vector<std::uint8_t> frame(data, data + h->caplen);
        std::optional<VyrP4::Packet> p = VyrP4::Packet::parse(frame, nullptr);
        if (p) {
            VyrP4::IngressMeta m = meta;
            m.vlan = p->vlan();
            const VyrP4::PacketOutcome o = path.send(*p, m);
            if (o.fate == VyrP4::Fate::trapped) {
                ++totals.trapped;
                continue;
            }
            if (o.fate == VyrP4::Fate::dropped) {
                ++totals.dropped;
                continue;
            }
            totals.translated += o.translated;
            frame = p->bytes();
        } else {
            ++totals.notIpv4;
        }
        ++totals.forwarded;
        pcap_pkthdr oh = *h;
        oh.caplen = bpf_u_int32(frame.size());
        pcap_dump(reinterpret_cast<u_char*>(writer.get()), &oh, frame.data());
    }
    if (r == PCAP_ERROR) {
        error = "cannot read the capture " + in + ": " + pcap_geterr(reader.get());
        return false;
    }
    if (pcap_dump_flush(writer.get()) != 0) {
        error = "cannot write the capture " + out;
        return false;
    }
    return true;
}

} // namespace Scenario
