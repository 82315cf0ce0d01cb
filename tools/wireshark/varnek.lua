-- varnek.lua - Wireshark dissector for Varnek session frames.
--
-- Over TCP (port 5005 by default, a preference; any other port is found by a heuristic
-- that recognises an open frame) and inside the application blocks of the serial link
-- (varnek_link.lua hands the block's payload here).
--
-- A session frame is a flags byte, then an open block (39 bytes) when SF_OPEN, a payload
-- length (u16) when SF_END, a hold byte when SF_HOLD and a close code when SF_CLOSE, all
-- multi-byte numbers most significant byte first; then the payload: as many bytes as
-- the length field says, or, without SF_END, the frame size that the sender announced in
-- its open block (256).  An abort frame (SF_CLOSE with a nonzero code) carries its
-- reason text; a receiver reads at most 64 bytes of it.
--
-- The frames of one direction up to the one with SF_END form a message.  Its payloads
-- are joined and, when packed, decompressed (LZSS over a 4096-byte ring of spaces, 18
-- primer spaces discarded), so the message bytes show as a data source of their own.
--
-- Use: tshark -X lua_script:varnek.lua -r capture.pcap -O varnek
--      or copy this file to ~/.local/lib/wireshark/plugins/

local p = Proto("varnek", "Varnek session frame")

local SF_OPEN, SF_END, SF_HOLD, SF_CLOSE, SF_PACKED = 0x80, 0x40, 0x20, 0x10, 0x08
local OPEN_BLOCK = 39
local FRAME_PAYLOAD = 256     -- what a frame carries at most
local RECEIVE_BUFFER = 320    -- a receiver fails the session beyond this
local ABORT_TEXT_MAX = 64
local PROTOCOL_VERSION = 4
local RING = 4096
local RING_START = 4078
local PRIMER = 18

local close_codes = {
    [0] = "close: the sender's last message",
    [1] = "abort: a transfer was stopped by the host's abort callback",
    [2] = "abort by the host",
}

local f = {
    flags = ProtoField.uint8("varnek.flags", "Flags", base.HEX),
    f_open = ProtoField.bool("varnek.flags.open", "SF_OPEN", 8, nil, SF_OPEN),
    f_end = ProtoField.bool("varnek.flags.end", "SF_END", 8, nil, SF_END),
    f_hold = ProtoField.bool("varnek.flags.hold", "SF_HOLD", 8, nil, SF_HOLD),
    f_close = ProtoField.bool("varnek.flags.close", "SF_CLOSE", 8, nil, SF_CLOSE),
    f_packed = ProtoField.bool("varnek.flags.packed", "SF_PACKED", 8, nil, SF_PACKED),
    f_reserved = ProtoField.uint8("varnek.flags.reserved", "Reserved", base.HEX, nil, 0x07),
    version = ProtoField.uint8("varnek.open.version", "Protocol version", base.DEC),
    zip_version = ProtoField.uint8("varnek.open.zip_version", "Compression version", base.DEC),
    service = ProtoField.uint16("varnek.open.service", "Service", base.DEC),
    local_name = ProtoField.string("varnek.open.local_name", "Sender's name"),
    remote_name = ProtoField.string("varnek.open.remote_name", "Name of the station called"),
    option = ProtoField.uint8("varnek.open.option", "Service option", base.DEC),
    frame_size = ProtoField.uint16("varnek.open.frame_size", "Frame size", base.DEC),
    len = ProtoField.uint16("varnek.len", "Payload length", base.DEC),
    hold = ProtoField.uint8("varnek.hold", "Hold byte", base.DEC),
    close = ProtoField.uint8("varnek.close", "Close code", base.DEC, close_codes),
    abort_text = ProtoField.string("varnek.abort_text", "Abort text"),
    payload = ProtoField.bytes("varnek.payload", "Payload"),
    payload_len = ProtoField.uint16("varnek.payload_len", "Payload bytes", base.DEC),
    message = ProtoField.bytes("varnek.message", "Message"),
    message_len = ProtoField.uint32("varnek.message.length", "Message length", base.DEC),
    message_frames = ProtoField.uint32("varnek.message.frames", "Frames", base.DEC),
    message_frame = ProtoField.framenum("varnek.message.frame", "Frame"),
    message_packed = ProtoField.uint32("varnek.message.packed_length", "Compressed length", base.DEC),
}
p.fields = f

local e = {
    reserved = ProtoExpert.new("varnek.reserved", "Flag bits 2 to 0 are set", expert.group.PROTOCOL,
                               expert.severity.WARN),
    version = ProtoExpert.new("varnek.version", "Protocol version below 4: the open is refused",
                              expert.group.PROTOCOL, expert.severity.WARN),
    long = ProtoExpert.new("varnek.long", "Payload longer than a frame carries", expert.group.MALFORMED,
                           expert.severity.ERROR),
    unheld = ProtoExpert.new("varnek.unheld", "Payload cannot be held: the receiver fails the session",
                             expert.group.MALFORMED, expert.severity.ERROR),
    abort_long = ProtoExpert.new("varnek.abort_long", "Abort text longer than 64 bytes",
                                 expert.group.PROTOCOL, expert.severity.WARN),
    abort = ProtoExpert.new("varnek.abort", "Session aborted", expert.group.SEQUENCE, expert.severity.NOTE),
    cut = ProtoExpert.new("varnek.cut", "Frame cut short", expert.group.MALFORMED, expert.severity.ERROR),
    assumed = ProtoExpert.new("varnek.assumed", "Frame size assumed", expert.group.PROTOCOL,
                              expert.severity.NOTE),
    lzss = ProtoExpert.new("varnek.lzss", "Compressed stream malformed", expert.group.MALFORMED,
                           expert.severity.ERROR),
    mixed = ProtoExpert.new("varnek.mixed", "Packed and plain frames in one message", expert.group.PROTOCOL,
                            expert.severity.WARN),
}
p.experts = e

p.prefs.tcp_port = Pref.uint("TCP port", 5005, "The TCP port whose traffic is Varnek session frames")
p.prefs.frame_size = Pref.uint("Frame size", 256,
                               "Payload of a frame without SF_END when the sender's open frame is not in the capture")

local function has(flags, bit) return math.floor(flags / bit) % 2 == 1 end

local function header_length(flags)
    local n = 1
    if has(flags, SF_OPEN) then n = n + OPEN_BLOCK end
    if has(flags, SF_END) then n = n + 2 end
    if has(flags, SF_HOLD) then n = n + 1 end
    if has(flags, SF_CLOSE) then n = n + 1 end
    return n
end

local function flag_names(flags)
    local names = {}
    for _, fl in ipairs({{SF_OPEN, "OPEN"}, {SF_END, "END"}, {SF_HOLD, "HOLD"}, {SF_CLOSE, "CLOSE"},
                         {SF_PACKED, "PACKED"}}) do
        if has(flags, fl[1]) then names[#names + 1] = fl[2] end
    end
    return #names > 0 and table.concat(names, "|") or "-"
end

local function cstring(raw)
    local nul = raw:find("\0", 1, true)
    return nul and raw:sub(1, nul - 1) or raw
end

------------------------------------------------------------------------------ state
-- Kept per direction of a conversation ("key"): the frame sizes announced by open
-- frames, as (frame number, size) in capture order, and the message being joined.  The
-- first pass fills it; every later pass reads what the first pass stored per frame.

local state = {}       -- key -> { sizes = {{number, size}...}, parts, frames, packed, mixed }
local messages = {}    -- "number:index" -> finished message
local frame_index = 0  -- session frames dissected so far in the current packet

function p.init()
    state = {}
    messages = {}
    frame_index = 0
end

local function direction(key)
    local d = state[key]
    if d == nil then
        d = { sizes = {} }
        state[key] = d
    end
    return d
end

-- The frame size in force for frames of this direction in packet number, and whether
-- it was announced (false: assumed from the preference).
local function frame_size(key, number)
    local sizes = direction(key).sizes
    for i = #sizes, 1, -1 do
        if sizes[i][1] <= number then return sizes[i][2], true end
    end
    return p.prefs.frame_size, false
end

-- varnek_link.lua names the direction of the link frame whose block it hands over.
local function link_direction(pinfo) return pinfo.private["varnek_link_dir"] end

local function direction_key(pinfo)
    local link = link_direction(pinfo)
    if link then return "link:" .. link end
    return tostring(pinfo.src) .. ":" .. pinfo.src_port .. ">" .. tostring(pinfo.dst) .. ":" .. pinfo.dst_port
end

-- Length of the frame at offset: header plus the payload a receiver reads.  Returns
-- nil and the bytes needed when the header is not all there yet.
local function frame_length(tvb, offset, key, number)
    local have = tvb:len() - offset
    if have < 1 then return nil, 1 end
    local flags = tvb(offset, 1):uint()
    local header = header_length(flags)
    if have < header then return nil, header end
    local payload
    if has(flags, SF_END) then
        local at = offset + 1 + (has(flags, SF_OPEN) and OPEN_BLOCK or 0)
        payload = tvb(at, 2):uint()
        if has(flags, SF_CLOSE) and tvb(offset + header - 1, 1):uint() ~= 0 and payload > ABORT_TEXT_MAX then
            payload = ABORT_TEXT_MAX
        end
    else
        payload = frame_size(key, number)
    end
    if payload > RECEIVE_BUFFER then
        -- The receiver gives up here: take what is there rather than wait for it.
        payload = math.min(payload, have - header)
    end
    return header + payload
end

------------------------------------------------------------------------------ LZSS
-- Decodes one message's compressed stream (a Lua string); returns the bytes produced
-- (primer included) as a table, and an error text or nil.
local function lzss_decode(s)
    local ring = {}
    for i = 0, RING - 1 do ring[i] = i < RING_START and 0x20 or 0 end
    local out, r, i, n = {}, RING_START, 1, #s
    while i <= n do
        local flags = s:byte(i)
        i = i + 1
        for _ = 1, 8 do
            if i > n then break end
            if flags % 2 == 1 then
                local c = s:byte(i)
                i = i + 1
                out[#out + 1] = c
                ring[r] = c
                r = (r + 1) % RING
            else
                if i == n then return out, "the stream ends inside a match" end
                local a, b = s:byte(i, i + 1)
                i = i + 2
                local pos = a + math.floor(b / 16) * 256
                for k = 0, b % 16 + 2 do
                    local c = ring[(pos + k) % RING]
                    out[#out + 1] = c
                    ring[r] = c
                    r = (r + 1) % RING
                end
            end
            flags = math.floor(flags / 2)
        end
    end
    return out, nil
end

local unpack = table.unpack or unpack

local function bytes_to_string(t, first)
    local chunks = {}
    for i = first, #t, 4096 do
        chunks[#chunks + 1] = string.char(unpack(t, i, math.min(i + 4095, #t)))
    end
    return table.concat(chunks)
end

-- The message bytes of a packed stream, and an error text or nil.
local function unpack_message(s)
    if #s < 3 or s:byte(1) % 2 ~= 0 or s:byte(2) ~= 0xDC or s:byte(3) ~= 0xFF then
        local out, err = lzss_decode(s)
        return bytes_to_string(out, PRIMER + 1), "no primer at the start of the stream" .. (err and ("; " .. err) or "")
    end
    local out, err = lzss_decode(s)
    return bytes_to_string(out, PRIMER + 1), err
end

------------------------------------------------------------------------------ messages
local function join_part(key, pinfo, flags, payload)
    local d = direction(key)
    local packed = has(flags, SF_PACKED)
    if d.parts == nil then
        d.parts, d.frames, d.packed, d.mixed = {}, {}, packed, false
    end
    d.parts[#d.parts + 1] = payload
    d.frames[#d.frames + 1] = pinfo.number
    if packed ~= d.packed then d.mixed = true end
    if not has(flags, SF_END) then return end
    local stream = table.concat(d.parts)
    local m = { frames = d.frames, packed = d.packed, mixed = d.mixed, stream_len = #stream }
    if d.packed then
        m.data, m.err = unpack_message(stream)
    else
        m.data = stream
    end
    messages[pinfo.number .. ":" .. frame_index] = m
    d.parts, d.frames = nil, nil
end

local function forget_message(key)
    local d = direction(key)
    d.parts, d.frames = nil, nil
end

-- The first 16 bytes in hex and as text.
local function preview(data)
    local head = data:sub(1, 16)
    local hex = {}
    for i = 1, #head do hex[i] = string.format("%02x", head:byte(i)) end
    local text = head:gsub("[^\32-\126]", ".")
    local more = #data > 16 and " ..." or ""
    return table.concat(hex, " ") .. more .. " |" .. text .. (#data > 16 and "..." or "") .. "|"
end

local function show_message(tree, pinfo)
    local m = messages[pinfo.number .. ":" .. frame_index]
    if m == nil then return nil end
    local mtvb = ByteArray.new(m.data, true):tvb("Varnek message")
    local item = tree:add(f.message, mtvb())
    item:set_text(string.format("Message: %d bytes%s: %s", #m.data, m.packed and " (decompressed)" or "",
                                preview(m.data)))
    item:add(f.message_len, mtvb(), #m.data)
    if m.packed then item:add(f.message_packed, m.stream_len) end
    local frames = item:add(f.message_frames, #m.frames)
    for _, number in ipairs(m.frames) do frames:add(f.message_frame, number) end
    if m.mixed then item:add_proto_expert_info(e.mixed) end
    if m.err then item:add_proto_expert_info(e.lzss, "Compressed stream malformed: " .. m.err) end
    return m
end

------------------------------------------------------------------------------ one frame
-- Dissects the frame at the start of tvb (as much of it as tvb holds) and returns the
-- info text.
local function dissect_frame(tvb, pinfo, tree, key)
    frame_index = frame_index + 1
    local have = tvb:len()
    local flags = tvb(0, 1):uint()
    local header = header_length(flags)
    local total = frame_length(tvb, 0, key, pinfo.number) or header
    local item = tree:add(p, tvb(0, math.min(total, have)))
    local ft = item:add(f.flags, tvb(0, 1))
    ft:append_text(" (" .. flag_names(flags) .. ")")
    for _, bit in ipairs({f.f_open, f.f_end, f.f_hold, f.f_close, f.f_packed, f.f_reserved}) do
        ft:add(bit, tvb(0, 1))
    end
    if flags % 8 ~= 0 then ft:add_proto_expert_info(e.reserved) end
    local info = "[" .. flag_names(flags) .. "]"
    if have < header then
        item:add_proto_expert_info(e.cut, string.format("Frame cut short: %d of %d header bytes", have, header))
        return info .. " (cut)"
    end

    local at = 1
    if has(flags, SF_OPEN) then
        local ot = item:add(tvb(at, OPEN_BLOCK), "Open block")
        local version = tvb(at, 1):uint()
        local vi = ot:add(f.version, tvb(at, 1))
        if version < PROTOCOL_VERSION then vi:add_proto_expert_info(e.version) end
        ot:add(f.zip_version, tvb(at + 1, 1))
        ot:add(f.service, tvb(at + 2, 2))
        local localName = cstring(tvb:raw(at + 4, 16))
        local remoteName = cstring(tvb:raw(at + 20, 16))
        ot:add(f.local_name, tvb(at + 4, 16), localName)
        ot:add(f.remote_name, tvb(at + 20, 16), remoteName)
        ot:add(f.option, tvb(at + 36, 1))
        local size = tvb(at + 37, 2):uint()
        ot:add(f.frame_size, tvb(at + 37, 2))
        if not pinfo.visited then
            local sizes = direction(key).sizes
            sizes[#sizes + 1] = { pinfo.number, size }
            forget_message(key)
        end
        info = info .. string.format(" Open '%s' -> '%s', service %d, compression %d", localName, remoteName,
                                     tvb(at + 2, 2):uint(), tvb(at + 1, 1):uint())
        at = at + OPEN_BLOCK
    end

    local announced
    if has(flags, SF_END) then
        announced = tvb(at, 2):uint()
        item:add(f.len, tvb(at, 2))
        at = at + 2
    end
    if has(flags, SF_HOLD) then
        item:add(f.hold, tvb(at, 1))
        info = info .. " hold " .. tvb(at, 1):uint()
        at = at + 1
    end
    local code
    if has(flags, SF_CLOSE) then
        code = tvb(at, 1):uint()
        item:add(f.close, tvb(at, 1))
        at = at + 1
    end
    local aborting = code ~= nil and code ~= 0

    local expected = announced
    if expected == nil then
        local size, known = frame_size(key, pinfo.number)
        expected = size
        if not known then
            item:add_proto_expert_info(e.assumed, string.format(
                "Frame size assumed %d: the sender's open frame is not in the capture", size))
        end
    end
    if aborting and expected > ABORT_TEXT_MAX then
        item:add_proto_expert_info(e.abort_long, string.format(
            "Abort text length %d is above 64: a receiver reads the first 64 bytes", expected))
        expected = ABORT_TEXT_MAX
    end
    if expected > RECEIVE_BUFFER then
        item:add_proto_expert_info(e.unheld, string.format(
            "Payload length %d cannot be held (more than %d bytes): the receiver fails the session",
            expected, RECEIVE_BUFFER))
    elseif expected > FRAME_PAYLOAD then
        item:add_proto_expert_info(e.long, string.format(
            "Payload length %d is above the %d bytes a frame carries", expected, FRAME_PAYLOAD))
    end

    local present = math.min(expected, have - at)
    local cut = present < expected and expected <= RECEIVE_BUFFER
    if cut then
        item:add_proto_expert_info(e.cut, string.format("Frame cut short: %d of %d payload bytes", present,
                                                        expected))
    end
    if present > 0 then
        if aborting then
            local text = cstring(tvb:raw(at, present))
            item:add(f.abort_text, tvb(at, present), text)
            info = info .. " Abort: \"" .. text .. "\""
            item:add_proto_expert_info(e.abort, "Session aborted: " .. text)
        else
            item:add(f.payload, tvb(at, present))
        end
    end
    item:add(f.payload_len, present):set_generated()
    item:append_text(string.format(", %s, payload %d", flag_names(flags), present))

    if expected > RECEIVE_BUFFER or cut then
        -- The message cannot be joined: its bytes are not all there, or a receiver gives up.
        if not pinfo.visited then forget_message(key) end
        return info .. (cut and " (cut short)" or " (the receiver fails the session)")
    end
    if has(flags, SF_OPEN) or aborting then
        if aborting and not pinfo.visited then forget_message(key) end
        return info
    end
    if not pinfo.visited then
        join_part(key, pinfo, flags, present > 0 and tvb:raw(at, present) or "")
    end
    info = info .. " " .. present .. " bytes"
    if has(flags, SF_END) then
        local m = show_message(item, pinfo)
        if m then info = info .. string.format(", message %d bytes", #m.data) end
        if code == 0 then info = info .. ", last message" end
    end
    return info
end

-- The first frame of a packet over TCP names it; later frames, and frames inside a
-- link block, are added to what is there.
local function add_info(pinfo, text)
    pinfo.cols.protocol = "Varnek"
    if frame_index == 1 and link_direction(pinfo) == nil then
        pinfo.cols.info:set(text)
    else
        pinfo.cols.info:append(" , " .. text)
    end
end

------------------------------------------------------------------------------ entry points
local function dissect_pdu(tvb, pinfo, tree)
    add_info(pinfo, dissect_frame(tvb, pinfo, tree, direction_key(pinfo)))
    return tvb:len()
end

local function pdu_length(tvb, pinfo, offset)
    local total = frame_length(tvb, offset, direction_key(pinfo), pinfo.number)
    return total or 0  -- 0: one more segment is needed
end

-- Frames one after another in tvb, not split by any transport (a link block, or TCP
-- without reassembly): each as far as tvb holds it.
local function dissect_frames(tvb, pinfo, tree)
    local key = direction_key(pinfo)
    local offset = 0
    while offset < tvb:len() do
        local total = frame_length(tvb, offset, key, pinfo.number)
        local length = math.min(total or tvb:len() - offset, tvb:len() - offset)
        add_info(pinfo, dissect_frame(tvb(offset, length):tvb(), pinfo, tree, key))
        offset = offset + length
    end
    return offset
end

function p.dissector(tvb, pinfo, tree)
    if tvb:len() == 0 then return 0 end
    if link_direction(pinfo) == nil and pinfo.can_desegment > 0 then
        dissect_tcp_pdus(tvb, tree, 1, pdu_length, dissect_pdu)
        return tvb:len()
    end
    return dissect_frames(tvb, pinfo, tree)
end

-- An open frame on any TCP port: flags OPEN|END, protocol version 4 or later, payload
-- length 0.  The rest of the conversation then goes to this dissector.
local function heuristic(tvb, pinfo, tree)
    if tvb:len() < 42 then return false end
    if tvb(0, 1):uint() ~= SF_OPEN + SF_END then return false end
    local version = tvb(1, 1):uint()
    if version < PROTOCOL_VERSION or version > 15 then return false end
    if tvb(40, 2):uint() ~= 0 then return false end
    local size = tvb(38, 2):uint()
    if size == 0 or size > RECEIVE_BUFFER then return false end
    pinfo.conversation = p
    p.dissector(tvb, pinfo, tree)
    return true
end

-- Packets end here: the next packet counts its session frames from one again, on every
-- pass, so that each frame finds what the first pass stored for it.
local counter_reset = Proto("varnek_frame_count", "Varnek frame count")
function counter_reset.dissector() frame_index = 0 end
register_postdissector(counter_reset)

local registered_port = p.prefs.tcp_port
DissectorTable.get("tcp.port"):add(registered_port, p)
p:register_heuristic("tcp", heuristic)

function p.prefs_changed()
    if registered_port == p.prefs.tcp_port then return end
    local tcp = DissectorTable.get("tcp.port")
    if registered_port ~= 0 then tcp:remove(registered_port, p) end
    registered_port = p.prefs.tcp_port
    if registered_port ~= 0 then tcp:add(registered_port, p) end
end
