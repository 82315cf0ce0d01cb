-- varnek_link.lua - Wireshark dissector for Varnek serial link frames.
--
-- Captures of link type USER0 (147) hold one bare frame per record, as it was on the
-- line (`varnek script pcap`); USER1 (148) puts one direction byte in front, 0 received
-- and 1 sent by the port that recorded (`--pcap` of the varnek station, DRUMMEL_PCAP<n>).
--
-- A frame: 0x12, header, data, CRC-16/ARC of header and data (low byte first), 0x0D.
-- Inside it 0x0D and 0x10-0x13 travel as 0x10, b | 0x80.  Header bits: 7 dir, 6 data
-- (1) or ACK (0), 5-3 the SEQ the sender expects next, 2-0 the SEQ of this data frame.
-- A data frame carries one application block: code (u16, the record size class),
-- block number (u16), then session frames, which varnek.lua dissects when it is
-- loaded.  A centre's greeting and a station's 71-byte log-in record travel as blocks
-- too and are shown as such.
--
-- Use: tshark -X lua_script:varnek.lua -X lua_script:varnek_link.lua -r serial.pcap
--      or copy both files to ~/.local/lib/wireshark/plugins/

local p = Proto("varnek_link", "Varnek serial link frame")

local STX, CR, DLE = 0x12, 0x0D, 0x10
local BLOCK_HEADER = 4
local LOGIN_RECORD = 71
local GREETING = 6

local block_codes = {
    [0x2222] = "records of 520 bytes",
    [0x2223] = "records of 1040 bytes",
    [0x2224] = "records of 2080 bytes",
}

local f = {
    direction = ProtoField.uint8("varnek_link.direction", "Direction", base.DEC,
                                 { [0] = "received", [1] = "sent" }),
    start = ProtoField.uint8("varnek_link.start", "Start", base.HEX),
    header = ProtoField.uint8("varnek_link.header", "Header", base.HEX),
    dir = ProtoField.uint8("varnek_link.header.dir", "Dir", base.DEC, nil, 0x80),
    is_data = ProtoField.bool("varnek_link.header.data", "Data frame", 8, nil, 0x40),
    req_seq = ProtoField.uint8("varnek_link.header.req_seq", "Expects SEQ", base.DEC, nil, 0x38),
    send_seq = ProtoField.uint8("varnek_link.header.send_seq", "SEQ", base.DEC, nil, 0x07),
    data = ProtoField.bytes("varnek_link.data", "Data"),
    data_len = ProtoField.uint16("varnek_link.data_len", "Data bytes", base.DEC),
    crc = ProtoField.uint16("varnek_link.crc", "CRC-16", base.HEX),
    crc_status = ProtoField.uint8("varnek_link.crc.status", "CRC status", base.DEC,
                                  { [0] = "Bad", [1] = "Good" }),
    stop = ProtoField.uint8("varnek_link.end", "End", base.HEX),
    stuffed = ProtoField.uint16("varnek_link.stuffed", "Stuffed bytes", base.DEC),
    retransmission = ProtoField.framenum("varnek_link.retransmission", "Retransmission of frame"),
    code = ProtoField.uint16("varnek_link.block.code", "Block code", base.HEX, block_codes),
    number = ProtoField.uint16("varnek_link.block.number", "Block number", base.DEC, nil, 0x7FFF),
    last = ProtoField.bool("varnek_link.block.last", "Last block", 16, nil, 0x8000),
    payload = ProtoField.bytes("varnek_link.block.payload", "Block payload"),
    greeting = ProtoField.uint8("varnek_link.greeting", "Centre greeting", base.DEC),
    login_port = ProtoField.uint16("varnek_link.login.port", "Log-in: port (service)", base.DEC),
    login_numbers = ProtoField.bytes("varnek_link.login.numbers", "Log-in: numbers 1, 2, 3"),
    login_digits = ProtoField.string("varnek_link.login.digits", "Log-in: digits"),
}
p.fields = f

local e = {
    no_start = ProtoExpert.new("varnek_link.no_start", "No start byte 0x12", expert.group.MALFORMED,
                               expert.severity.ERROR),
    restart = ProtoExpert.new("varnek_link.restart", "Start byte inside the frame: a receiver starts again there",
                              expert.group.MALFORMED, expert.severity.WARN),
    no_end = ProtoExpert.new("varnek_link.no_end", "Frame cut short: no end byte 0x0D", expert.group.MALFORMED,
                             expert.severity.ERROR),
    short = ProtoExpert.new("varnek_link.short", "Too short for a header and a CRC", expert.group.MALFORMED,
                            expert.severity.ERROR),
    dangling = ProtoExpert.new("varnek_link.dangling", "Escape byte 0x10 with nothing after it",
                               expert.group.MALFORMED, expert.severity.ERROR),
    bad_crc = ProtoExpert.new("varnek_link.bad_crc", "Bad CRC: a receiver refuses the frame",
                              expert.group.CHECKSUM, expert.severity.ERROR),
    ack_data = ProtoExpert.new("varnek_link.ack_data", "ACK frame carrying data", expert.group.PROTOCOL,
                               expert.severity.WARN),
    short_block = ProtoExpert.new("varnek_link.short_block", "Data shorter than the 4-byte block header",
                                  expert.group.MALFORMED, expert.severity.ERROR),
    retransmission = ProtoExpert.new("varnek_link.retransmitted", "Retransmission: the receiver refuses it",
                                     expert.group.SEQUENCE, expert.severity.NOTE),
    snapped = ProtoExpert.new("varnek_link.snapped", "Record cut by the capture's snapshot length",
                              expert.group.MALFORMED, expert.severity.WARN),
    refused = ProtoExpert.new("varnek_link.refused", "Centre greeting below 2: the caller is refused",
                              expert.group.SEQUENCE, expert.severity.WARN),
}
p.experts = e

------------------------------------------------------------------------------ CRC-16/ARC
local bxor = (bit32 and bit32.bxor) or (bit and bit.bxor)

local crc_table = {}
for i = 0, 255 do
    local c = i
    for _ = 1, 8 do
        if c % 2 == 1 then c = bxor(math.floor(c / 2), 0xA001) else c = math.floor(c / 2) end
    end
    crc_table[i] = c
end

local function crc16(s)
    local crc = 0
    for i = 1, #s do
        crc = bxor(crc_table[bxor(crc % 256, s:byte(i))], math.floor(crc / 256))
    end
    return crc
end

------------------------------------------------------------------------------ state
-- Per direction, the SEQ and frame number of the last good data frame, so that a frame
-- sent again is known; filled on the first pass, read per frame afterwards.
local last_data = {}
local repeated = {}   -- frame number -> frame it repeats

function p.init()
    last_data = {}
    repeated = {}
end

------------------------------------------------------------------------------ dissection
-- Unstuffs raw (the bytes after the start byte, end byte excluded): the clear bytes,
-- the number of escapes, and whether an escape was left dangling.
local function unstuff(raw)
    local out, escapes, i = {}, 0, 1
    while i <= #raw do
        local b = raw:byte(i)
        if b == DLE then
            if i == #raw then return table.concat(out), escapes, true end
            b = raw:byte(i + 1) % 128
            escapes = escapes + 1
            i = i + 1
        end
        out[#out + 1] = string.char(b)
        i = i + 1
    end
    return table.concat(out), escapes, false
end

-- Whether bytes are whole session frames ending exactly at the end (used to tell a
-- centre's greeting from a short message).
local function whole_session_frames(bytes)
    local flags = bytes:byte(1)
    if flags == nil or flags % 8 ~= 0 or flags >= 0x80 or math.floor(flags / 0x40) % 2 == 0 then return false end
    local header = 3 + math.floor(flags / 0x20) % 2 + math.floor(flags / 0x10) % 2
    if #bytes < header then return false end
    return header + bytes:byte(2) * 256 + bytes:byte(3) == #bytes
end

local function dissect_login(btvb, tree, pinfo)
    tree:add(f.login_numbers, btvb(0, 10))
    tree:add(f.login_port, btvb(10, 2))
    tree:add(f.login_digits, btvb(19, 21))
    tree:add(f.login_digits, btvb(42, 29))
    pinfo.cols.info:append(string.format(" , log-in record for port %d", btvb(10, 2):uint()))
end

local function dissect_greeting(btvb, tree, pinfo)
    local answer = btvb(0, 1):uint()
    local item = tree:add(f.greeting, btvb(0, 1))
    if answer < 2 then item:add_proto_expert_info(e.refused) end
    pinfo.cols.info:append(answer < 2 and " , centre greeting: refused" or " , centre greeting")
end

local function session_dissector()
    local ok, d = pcall(Dissector.get, "varnek")
    return ok and d or nil
end

local function dissect_block(dtvb, pinfo, tree, item)
    if dtvb:len() < BLOCK_HEADER then
        item:add_proto_expert_info(e.short_block)
        return
    end
    local code = dtvb(0, 2):uint()
    local number = dtvb(2, 2):uint()
    local bt = item:add(dtvb(), "Application block")
    bt:add(f.code, dtvb(0, 2))
    bt:add(f.number, dtvb(2, 2))
    bt:add(f.last, dtvb(2, 2))
    local size = dtvb:len() - BLOCK_HEADER
    bt:append_text(string.format(", code 0x%04x, number %d, %d bytes", code, number % 0x8000, size))
    pinfo.cols.info:append(string.format(" , block %d, %d bytes", number % 0x8000, size))
    if size == 0 then return end
    local ptvb = dtvb(BLOCK_HEADER):tvb()
    local bytes = ptvb:raw()
    if size == LOGIN_RECORD and bytes:sub(20, 24) == "61294" then
        return dissect_login(ptvb, bt, pinfo)
    end
    if size == GREETING and not whole_session_frames(bytes) then
        return dissect_greeting(ptvb, bt, pinfo)
    end
    local session = session_dissector()
    if session == nil then
        bt:add(f.payload, ptvb())
        return
    end
    pinfo.private["varnek_link_dir"] = pinfo.p2p_dir == P2P_DIR_SENT and "sent" or "received"
    session:call(ptvb, pinfo, tree)
end

local function dissect_link(tvb, pinfo, tree, direction_byte)
    local offset = 0
    local item = tree:add(p, tvb())
    pinfo.cols.protocol = "Varnek link"
    if direction_byte then
        local dir = tvb(0, 1):uint()
        item:add(f.direction, tvb(0, 1))
        pinfo.p2p_dir = dir == 1 and P2P_DIR_SENT or P2P_DIR_RECV
        offset = 1
    else
        pinfo.p2p_dir = P2P_DIR_RECV
    end
    local arrow = pinfo.p2p_dir == P2P_DIR_SENT and "sent" or "received"
    if tvb:reported_len() > tvb:len() then item:add_proto_expert_info(e.snapped) end
    local raw = tvb:raw(offset, tvb:len() - offset)

    -- The frame begins at the last bare 0x12 before the end, as a receiver takes it.
    local start = raw:find(string.char(STX), 1, true)
    if start == nil then
        item:add_proto_expert_info(e.no_start)
        pinfo.cols.info:set(arrow .. ": no link frame")
        return
    end
    local restart = start
    while true do
        local next_start = raw:find(string.char(STX), restart + 1, true)
        if next_start == nil then break end
        restart = next_start
    end
    if restart ~= start then
        item:add_proto_expert_info(e.restart)
        start = restart
    end
    item:add(f.start, tvb(offset + start - 1, 1))
    local stop = #raw
    local ended = raw:byte(stop) == CR and stop > start
    if not ended then
        item:add_proto_expert_info(e.no_end)
        stop = stop + 1
    end
    local clear, escapes, dangling = unstuff(raw:sub(start + 1, stop - 1))
    if dangling then item:add_proto_expert_info(e.dangling) end
    if #clear < 3 then
        item:add_proto_expert_info(e.short)
        pinfo.cols.info:set(arrow .. ": link frame too short")
        return
    end
    local ctvb = ByteArray.new(clear, true):tvb("Unstuffed link frame")
    local header = ctvb(0, 1):uint()
    local ht = item:add(f.header, ctvb(0, 1))
    for _, bitfield in ipairs({f.dir, f.is_data, f.req_seq, f.send_seq}) do ht:add(bitfield, ctvb(0, 1)) end
    local is_data = header >= 0x40 and math.floor(header / 0x40) % 2 == 1
    local req, seq = math.floor(header / 8) % 8, header % 8
    local n = #clear - 3
    if n > 0 then item:add(f.data, ctvb(1, n)) end
    item:add(f.data_len, n):set_generated()
    local crc_item = item:add_le(f.crc, ctvb(n + 1, 2))
    local good = crc16(clear) == 0
    crc_item:add(f.crc_status, good and 1 or 0):set_generated()
    if not good then
        crc_item:append_text(string.format(" [expected 0x%04x]", crc16(clear:sub(1, n + 1))))
        crc_item:add_proto_expert_info(e.bad_crc)
    end
    item:add(f.stuffed, escapes):set_generated()
    if ended then item:add(f.stop, tvb(offset + stop - 1, 1)) end
    item:append_text(string.format(", %s, %s, SEQ %d, expects %d, %d data bytes", arrow,
                                   is_data and "data" or "ACK", seq, req, n))

    local info = string.format("%s: %s expects %d", arrow, is_data and ("data SEQ " .. seq) or "ACK", req)
    if not good then info = info .. " [bad CRC]" end
    pinfo.cols.info:set(info)
    if not good then return end
    if not is_data then
        if n > 0 then item:add_proto_expert_info(e.ack_data) end
        return
    end

    local dirkey = tostring(pinfo.p2p_dir)
    if not pinfo.visited then
        local last = last_data[dirkey]
        if last and last.seq == seq then repeated[pinfo.number] = last.number end
        if not repeated[pinfo.number] then last_data[dirkey] = { seq = seq, number = pinfo.number } end
    end
    if repeated[pinfo.number] then
        item:add(f.retransmission, repeated[pinfo.number]):set_generated()
        item:add_proto_expert_info(e.retransmission)
        pinfo.cols.info:append(" [retransmission]")
        return
    end
    dissect_block(ctvb(1, n):tvb(), pinfo, tree, item)
end

-- Both link types come here; the table key tells which one the record is.
function p.dissector(tvb, pinfo, tree)
    if tvb:len() == 0 then return 0 end
    dissect_link(tvb, pinfo, tree, pinfo.match_uint == wtap_encaps.USER1)
    return tvb:len()
end

local encap = DissectorTable.get("wtap_encap")
encap:add(wtap_encaps.USER0, p)
encap:add(wtap_encaps.USER1, p)
