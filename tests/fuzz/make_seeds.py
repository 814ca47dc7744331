# make_seeds.py -- writes the hand-made seed inputs of corpus/ (run from the
# top of the tree). Inputs that libFuzzer found, and crash inputs kept as
# regression tests, live beside them and are not made here.
import struct, os
def w(target, name, data):
    os.makedirs('tests/fuzz/corpus/' + target, exist_ok=True)
    open('tests/fuzz/corpus/%s/%s' % (target, name), 'wb').write(data)
def ws(target, items):
    for name, data in items: w(target, name, data)
def pad4(b): return b + b'\0' * ((-len(b)) % 4)
def cfh(cmd, params, control=1, seq=1, cc=0, reason=0, typ=2):
    return struct.pack('<9i', typ, 36, 1, cmd, seq, control, cc, reason, len(params)) + b''.join(params)
def cfin(p, v): return struct.pack('<4i', 3, 16, p, v)
def cfin64(p, v): return struct.pack('<4iq', 23, 24, p, 0, v)
def cfst(p, s, pad=None):
    s = s.encode().ljust(pad or 0)
    return struct.pack('<5i', 4, 20 + len(pad4(s)), p, 0, len(s)) + pad4(s)
def cfil(p, vals): return struct.pack('<4i%di' % len(vals), 5, 16 + 4 * len(vals), p, len(vals), *vals)
def cfsl(p, strs, n):
    body = pad4(b''.join(x.encode().ljust(n) for x in strs))
    return struct.pack('<6i', 6, 24 + len(body), p, 0, len(strs), n) + body
def cfbs(p, b): return struct.pack('<4i', 9, 16 + len(pad4(b)), p, len(b)) + pad4(b)
def cfgr(p, items): return struct.pack('<4i', 20, 16, p, len(items)) + b''.join(items)
INQ_Q, INQ_QMGR, CERT = 13, 2, 9500
q = cfh(INQ_Q, [cfst(2016, 'APP.QUEUE.0001', 48), cfin(20, 1), cfst(2013, 'a description', 64), cfin(3, 42)], control=0)
qlast = cfh(INQ_Q, [cfst(2016, 'APP.QUEUE.0002', 48), cfil(1001, [1, 2, 3]), cfsl(3001, ['A', 'BB'], 48)], seq=2)
err = cfh(INQ_Q, [cfin(3008, 2085)], cc=2, reason=3008)
grp = cfh(INQ_Q, [cfgr(8000, [cfin(1, 2), cfst(2, 'x', 8)]), cfbs(7001, b'\x01\x02\x03')])
lie = bytearray(q); struct.pack_into('<i', lie, 40, 3); lie = bytes(lie)
for t in ['compress', 'mqcmd_decode']:
    ws(t, [('inquire_q', q), ('inquire_q_last', qlast), ('error_reply', err), ('group_bytes', grp),
           ('lying_length', lie), ('header_only', cfh(INQ_QMGR, []))])
def seq(flags, maxsize, replies):
    return bytes([flags]) + struct.pack('<H', maxsize) + b''.join(
        struct.pack('<H', len(r) | (0x8000 if s else 0)) + r for r, s in replies)
ws('consolidate', [('two_replies', seq(3, 4000, [(q, 0), (qlast, 0)])),
                   ('error_in_middle', seq(3, 100, [(q, 0), (err, 0), (qlast, 0)])),
                   ('no_compress_no_coalesce', seq(0, 0, [(q, 0), (grp, 0)])),
                   ('text_reply', seq(1, 500, [(b'some text reply', 1)])),
                   ('after_last', seq(3, 4000, [(qlast, 0), (q, 0)]))])
ws('config', [('defaults', b'maxage 10\nmaxmsgsize = 1048576\ncompress yes\ncoalesce no\n'),
              ('quoted', b'tempqpfx "CORVEL.TORVIK.*" ; comment\nlogpath "/tmp/log ~"q~"" # x\ncommandq=SYSTEM.ADMIN.COMMAND.QUEUE\n'),
              ('units', b'maxage 2 min 3 sec\nmaxmsgsize 4MB\ndiscint 1 h\nretryint 100 ms\n'),
              ('bad', b'nosuchkey 1\nmaxage "\nmaxmsgsize 12 furlongs\n=\n"unterminated')])
ws('units', [('bytes', b'\x00100 KB 3 B'), ('seconds', b'\x012 d 3 h 4 m'), ('dots', b'\x021.5.3 s'),
             ('ambiguous', b'\x03 12 m'), ('empty', b'\x04')])
def tmc2(qname, data, user, qmgr):
    return (b'TMC    2' + qname.ljust(48) + b'PROCESS'.ljust(48) + data.ljust(64) + b'APPTYPE' +
            b'torvik'.ljust(256) + b'ENV'.ljust(128) + user.ljust(128) + qmgr.ljust(48))
ws('trigger', [('trigger', tmc2(b'CORVEL.TORVIK.COMMAND.QUEUE', b'-v high', b'-f /tmp/x.cfg', b'QM1')),
               ('trigger_words', tmc2(b'Q', b'-kvh -mQM2 extra', b'/q:INPUT -?', b'QM1')),
               ('short', b'TMC    2SOMEQ'), ('options', b'!-m\0QM1\0-q\0IN.Q\0-v\0Med\0-k'),
               ('options_grouped', b'!-kvh\0-mQM1\0/f:file\0word')])
def frame(typ, payload, tag=1, ver=2, magic=b'MQSW'):
    return magic + struct.pack('<HHII', ver, typ, tag, len(payload)) + payload
def blob(b): return struct.pack('<I', len(b)) + b
conn = frame(1, blob(b'QM1') + struct.pack('<ii', 0, 1))
ws('mqsim_frame', [('connect_open', conn + frame(3, struct.pack('<i', 1) + b'SYSTEM.ADMIN.COMMAND.QUEUE'.ljust(48) + blob(b'x'))),
                   ('bad_magic', frame(1, b'', magic=b'XXXX')), ('cut_short', conn[:-3]),
                   ('lying_length', frame(5, b'abc')[:12] + struct.pack('<I', 1000) + b'abc'),
                   ('many_small', b''.join(frame(k, bytes([k]) * k, tag=k) for k in range(1, 20)))])
nested = cfh(INQ_Q, [cfgr(8000, [cfgr(8001, [cfin(1, 2)]), cfin64(3, -1)]), struct.pack('<i', 1000),
                     cfsl(3001, ['A', 'BB', 'CCC'], 4)])
ws('pcf_reader', [('inquire_q', q), ('string_lists', qlast), ('group_bytes', grp),
                  ('nested_int64_bare', nested), ('lying_length', lie)])
def escape(text): return b'\x03' + cfh(38, [cfin(1017, 1), cfst(3014, text)], typ=1)
ws('mqsc_translate', [('keysize_all', b'\0dis cert(MyCert) KEYSIZE ALL'),
                      ('where_evtthres', b"\0DISPLAY CERT('My Cert') WHERE(SSLPEER LK '*O=(A)*') EVTTHRES(30)"),
                      ('bad_integer', b'\x02DIS CERT(X) EVTTHRES(abc)'),
                      ('syntax', b'\0DIS CERT(X) CERTUSAGE(NOPE) ('),
                      ('escape_usage', escape("DIS CERT(*) CERTUSAGE(CA) EXPIRYTI")),
                      ('escape_not_ours', escape("DISPLAY QMGR")),
                      # quoted runs of both kinds nested deep in a filter (once a stack overflow)
                      ('deep_quotes', b'\0DIS CERT(X) WHERE(' + b'\'"' * 1000 + b'"\'' * 1000 + b')')])
certreply = cfh(CERT, [cfst(2121, 'MyCert', 48), cfin(20009, 2048), cfin(20011, 2), cfin64(20007, 1800000000),
                       cfin64(20008, -5), cfst(3014, 'odd\x01', 8)])
ws('mqsc_render', [('cert_mqsc', b'\x00' + certreply), ('cert_escape', b'\x01' + certreply),
                   ('error_text', b'\x00' + cfh(CERT, [cfst(39999, 'CVLA610E Unknown variable X')], cc=2, reason=3008)),
                   ('bad_parameter', b'\x01' + cfh(CERT, [cfin(1012, 20009)], cc=2, reason=3014)),
                   ('no_objects', b'\x00' + cfh(INQ_Q, [], cc=2, reason=2085))])
rec = struct.pack('<5i3q', 2048, 1, 1, 1, 0, 1700000000, 1800000000, 86400) + b'MyCert\nCN=A,O=B\nCN=CA\n0A:1B\n'
ws('expr', [(name, f.encode() + b'\0' + rec) for name, f in [
    ('keysize', 'KEYSIZE GE 2048'), ('peer_like', "SSLPEER LK 'CN=*'"), ('lifespan_units', 'LIFESPAN LT 1 d 2h'),
    ('const_names', 'CERTUSAGE EQ CONST.MQRC_NONE'), ('chain', "KEYSIZE EQ 2048 EQ SERIAL CT '1B'"), ('bad', "EQ EQ 'x")]])
ws('cert_parse', [('listing', b'Certificates found\n* default, - personal, ! trusted, # secret key\n'
                   b'*-\tMyCert\n!\t"A label with blanks"\n#\tsecret\nCTGSK3026W The key file does not exist\n'
                   b'Details:\nKey Size : 2048\nSerial : 0a1b2c3\nIssuer : "CN=CA,O=B"\nSubject : CN=A\n'
                   b'Not Before : January 1, 2027 11:59:59 PM GMT+00:00\nNot After : December 31, 2029 12:00:00 AM GMT-03:30\n'
                   b'  ca = true\n'),
                  ('dates', b'February 29, 2028 12:00:00 PM GMT\nMarch 1, 1 1:00:00 AM GMT+14:00\nJune 5, 2030 13:00:00 PM GMT\n'),
                  ('long_label', b'-\t' + b'L' * 400 + b'\nDetails:\nSerial : ' + b'ab' * 40 + b'\nSubject : ' + b'x' * 1100 + b'\n')])
