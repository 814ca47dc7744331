/* cmdsrv_trigger_child.cpp -- a program for the trigger monitor to start.
 *
 * It takes its single argument as an MQTMC2 trigger message and appends one
 * line per start to the file named by the message's UserData field:
 *   argc=2 length=732 StrucId=[TMC ] Version=[   2] QName=[...] ...
 * each field in brackets exactly as received (blank padding included). It
 * writes the line to a new file and renames it into place, so a reader
 * never sees half a line; the trigger test polls for it.
 */
#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char **argv) {
    if (argc < 2)
        return 2;
    const char *arg = argv[1];
    size_t len = strlen(arg);
    if (len < 684)
        return 3;
    /* UserData: offset 556, 128 characters, blank-padded */
    std::string out(arg + 556, 128);
    size_t end = out.find_last_not_of(' ');
    if (end == std::string::npos)
        return 4;
    out.resize(end + 1);

    static const struct {
        const char *name;
        size_t offset;
        size_t length;
    } fields[] = {{"StrucId", 0, 4},       {"Version", 4, 4},        {"QName", 8, 48},
                  {"ProcessName", 56, 48}, {"TriggerData", 104, 64}, {"ApplType", 168, 4},
                  {"ApplId", 172, 256},    {"EnvData", 428, 128},    {"UserData", 556, 128},
                  {"QMgrName", 684, 48}};
    std::string line = "argc=" + std::to_string(argc) + " length=" + std::to_string(len);
    for (const auto &f : fields) {
        line += std::string(" ") + f.name + "=[";
        if (f.offset + f.length <= len)
            line.append(arg + f.offset, f.length);
        line += "]";
    }
    line += "\n";

    /* Earlier starts' lines, then this one, into a new file renamed over the
     * old one. */
    std::string text;
    FILE *in = fopen(out.c_str(), "rb");
    if (in != nullptr) {
        char buf[4096];
        size_t got;
        while ((got = fread(buf, 1, sizeof buf, in)) > 0)
            text.append(buf, got);
        fclose(in);
    }
    text += line;
    std::string tmp = out + ".tmp";
    FILE *f = fopen(tmp.c_str(), "wb");
    if (f == nullptr)
        return 5;
    bool ok = fwrite(text.data(), 1, text.size(), f) == text.size();
    ok = fclose(f) == 0 && ok;
    if (!ok || std::rename(tmp.c_str(), out.c_str()) != 0)
        return 6;
    printf("cmdsrv_trigger_child: started for %.48s\n", arg + 8);
    return 0;
}
