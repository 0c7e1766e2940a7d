-- SubSpace game protocol for Wireshark and tshark: follows the key exchange
-- of every client/server conversation in a capture and decrypts the game
-- datagrams, so that any capture shows the plain protocol.
--
--   tshark -X lua_script:/path/to/subspace.lua -r game.pcapng
--
-- or copy this file and subspace_cipher.lua into Wireshark's personal Lua
-- plugins folder. The cipher lives in subspace_cipher.lua beside this file.

local script = debug.getinfo(1, "S").source:gsub("^@", "")
local folder = script:match("^(.*)[/\\]") or "."
local cipher = dofile(folder .. "/subspace_cipher.lua")

local subspace = Proto("subspace", "SubSpace")

local KEY_REQUEST = 0x01
local KEY_RESPONSE = 0x02
local DISCONNECT = 0x07
local KEY_REQUEST_LENGTH = 8
local KEY_LENGTH_NEEDED = 6  -- the type and a 32-bit key

local fields = {
  header = ProtoField.bytes("subspace.header", "Header"),
  payload = ProtoField.bytes("subspace.payload", "Payload"),
  decrypted = ProtoField.bool("subspace.decrypted", "Decrypted"),
  client_key = ProtoField.int32("subspace.client_key", "Client key"),
  protocol = ProtoField.int8("subspace.protocol", "Protocol"),
  server_key = ProtoField.int32("subspace.server_key", "Server key"),
  direction = ProtoField.string("subspace.direction", "Direction"),
  auxiliary = ProtoField.bytes("subspace.auxiliary", "Auxiliary datagram"),
}
subspace.fields = fields

local experts = {
  too_long = ProtoExpert.new("subspace.too_long", "Payload longer than the key table: not decrypted",
                             expert.group.UNDECODED, expert.severity.WARN),
  no_request = ProtoExpert.new("subspace.no_key_request",
                               "Key response before any key request: decryption not started",
                               expert.group.SEQUENCE, expert.severity.WARN),
  short_key = ProtoExpert.new("subspace.key_response_short", "Key response too short to carry a key",
                              expert.group.MALFORMED, expert.severity.WARN),
  not_captured = ProtoExpert.new("subspace.key_not_captured",
                                 "Key not in the captured bytes: not followed",
                                 expert.group.MALFORMED, expert.severity.WARN),
  no_exchange = ProtoExpert.new("subspace.no_key_exchange",
                                "No key exchange seen in this conversation: shown as carried",
                                expert.group.SEQUENCE, expert.severity.NOTE),
}
subspace.experts = {experts.too_long, experts.no_request, experts.short_key,
                    experts.not_captured, experts.no_exchange}

-- The game pair and the auxiliary pair, each at the relay's and at the
-- server's default port. Decode As adds game ports.
subspace.prefs.game_ports = Pref.range("Game ports", "382,15000",
                                       "UDP ports of the game pair, decrypted", 65535)
subspace.prefs.auxiliary_ports = Pref.range("Auxiliary ports", "383,15001",
                                            "UDP ports of the auxiliary pair, shown as carried",
                                            65535)

-- Tessard's own capture names its interfaces: "game" holds payloads it has
-- already decrypted, "auxiliary" the auxiliary pair as carried.
local interface_name = Field.new("frame.interface_name")

-- Ports of a range preference ("382,15000-15003") as a set.
local function port_set(text)
  local set = {}
  for item in tostring(text):gmatch("[^,%s]+") do
    local first, last = item:match("^(%d+)-(%d+)$")
    first = tonumber(first or item)
    last = tonumber(last) or first
    if first ~= nil then
      for port = first, math.min(last, 65535) do set[port] = true end
    end
  end
  return set
end

local game_ports, auxiliary_ports = {}, {}
local claimed_game, claimed_auxiliary
local udp_ports = DissectorTable.get("udp.port")

local function claim_ports()
  if claimed_game ~= nil then udp_ports:remove(claimed_game, subspace) end
  if claimed_auxiliary ~= nil then udp_ports:remove(claimed_auxiliary, subspace) end
  claimed_game, claimed_auxiliary = subspace.prefs.game_ports, subspace.prefs.auxiliary_ports
  game_ports, auxiliary_ports = port_set(claimed_game), port_set(claimed_auxiliary)
  udp_ports:add(claimed_game, subspace)
  udp_ports:add(claimed_auxiliary, subspace)
end

-- Per file: each conversation's key exchange as far as the first pass has
-- read, and what was decided for each frame when it was first seen. Later
-- passes (clicks, refiltering, tshark -2) read the decision, never the
-- conversation, so they show what the first pass showed.
local conversations, frames

local function forget()
  conversations, frames = {}, {}
end
subspace.init = forget
forget()

local byte, format = string.byte, string.format

-- The 32-bit little-endian number at bytes 3 to 6 of text, unsigned.
local function key_at(text)
  local b2, b3, b4, b5 = byte(text, 3, 6)
  return b2 + b3 * 256 + b4 * 65536 + b5 * 16777216
end

-- The decision for one frame, a table that many frames share:
--   direction: "c2s", "s2c", or nil while no key request has named the client
--   session:   the session that decrypts it, or nil
--   note:      an expert note, or nil
-- Frames between two events of a conversation share one table per
-- direction, so that a long capture costs one reference a frame.
local function shared(conversation, direction)
  local views = conversation.views
  local view = views[direction or "none"]
  if view == nil then
    view = {direction = direction, session = conversation.session}
    if direction == nil then view.note = experts.no_exchange end
    views[direction or "none"] = view
  end
  return view
end

-- A key event changes what later frames get.
local function set_session(conversation, encrypting, session)
  conversation.encrypting = encrypting
  conversation.session = session
  conversation.views = {}
end

local function decide(conversation, source, type, length, raw)
  local client = conversation.client
  local direction = nil
  if client ~= nil then direction = source == client and "c2s" or "s2c" end

  if type == KEY_REQUEST and length == KEY_REQUEST_LENGTH
      and (client == nil or source == client) then
    -- A key request opens a connection and travels in the clear, also
    -- when a client connects again without a disconnect: decrypting it
    -- would garble the new client key and keep the old table in force.
    conversation.client = source
    set_session(conversation, false, nil)
    if #raw >= KEY_LENGTH_NEEDED then
      conversation.client_key = key_at(raw)
      return {direction = "c2s"}
    end
    conversation.client_key = nil
    return {direction = "c2s", note = experts.not_captured}
  end

  if type == KEY_RESPONSE and direction ~= "c2s" and not conversation.encrypting then
    local frame = {direction = direction}
    if client == nil then
      frame.note = experts.no_request
    elseif length < KEY_LENGTH_NEEDED then
      frame.note = experts.short_key
    elseif conversation.client_key == nil or #raw < KEY_LENGTH_NEEDED then
      frame.note = experts.not_captured
    else
      set_session(conversation, true, cipher.session(key_at(raw), conversation.client_key))
    end
    return frame
  end

  if type == DISCONNECT then
    -- Decrypted itself, then the end of decryption until the next exchange.
    local frame = {direction = direction, session = conversation.session}
    set_session(conversation, false, nil)
    return frame
  end
  -- A key response while encrypting is decrypted and changes nothing.
  return shared(conversation, direction)
end

local QUOTED = {}

local function endpoint(address, port)
  return tostring(address) .. ":" .. port
end

local function describe_type(first, second, header, length)
  if first == nil then return "Not captured" end
  if header == 2 then
    if second == nil then return "Type 00" end
    if second == KEY_REQUEST and length == KEY_REQUEST_LENGTH then return "Key request" end
    if second == KEY_RESPONSE then return "Key response" end
    if second == DISCONNECT then return "Disconnect" end
    return format("Type 00 %02X", second)
  end
  return format("Type 0x%02X", first)
end

local function dissect_auxiliary(tvb, pinfo, tree, length)
  local cols = pinfo.cols
  cols.protocol = "SubSpace"
  cols.info = format("Auxiliary, %d bytes", length)
  tree:add(subspace, tvb(), "SubSpace auxiliary"):add(fields.auxiliary, tvb())
end

-- A signed 32-bit number from an unsigned one.
local function signed(value)
  return value >= 2147483648 and value - 4294967296 or value
end

-- Decrypting is most of the work, and nothing needs it unless the payload
-- field is shown, filtered on or extracted: in tshark's summary lines and
-- in Wireshark's first pass nobody reads it. Whether anybody does is known
-- only by adding the field, which every frame with a payload does; a frame
-- decrypts unless the last frame found the field unread. The readers can
-- change only between passes, and a pass starts again at a lower frame
-- number, which sets this back to unknown (nil).
local payload_wanted, last_number = nil, 0

local function dissect_game(tvb, pinfo, tree, length, plain, source_port, destination_port)
  local raw = tvb:raw()  -- as captured, which a short snap length may have cut
  local captured = #raw
  local first, second = byte(raw, 1, 2)
  local header = cipher.header_size(first or 0, length)
  local type = header == 2 and second or nil

  local number = pinfo.number
  if number <= last_number then payload_wanted = nil end
  last_number = number
  local frame = frames[number]
  if frame == nil and pinfo.in_error_pkt then
    -- A datagram quoted in an ICMP error is a copy of one seen before: it
    -- is shown as carried and changes nothing.
    frame = QUOTED
    frames[number] = frame
  elseif frame == nil then
    -- Only the first pass reads or changes the conversation.
    local source = endpoint(pinfo.src, source_port or pinfo.src_port)
    local destination = endpoint(pinfo.dst, destination_port or pinfo.dst_port)
    local key = source < destination and source .. " " .. destination
                or destination .. " " .. source
    local conversation = conversations[key]
    if conversation == nil then
      conversation = {views = {}}
      conversations[key] = conversation
    end
    frame = decide(conversation, source, type, length, raw)
    frames[number] = frame
  end

  local too_long = length - header > cipher.MAX_PAYLOAD
  local session = not plain and not too_long and frame.session or nil
  local shown = raw
  local decrypted_now = false
  if session ~= nil and captured > header
      and (payload_wanted ~= false or type == KEY_RESPONSE or tree.visible) then
    shown = raw:sub(1, header) .. cipher.decrypt_payload(session, raw:sub(header + 1))
    decrypted_now = true
  end

  local direction = frame.direction
  local info = describe_type(first, second, header, length)
  if direction ~= nil then info = direction .. " " .. info end
  local client_key, protocol, server_key
  if type == KEY_REQUEST and length == KEY_REQUEST_LENGTH and direction == "c2s" then
    if captured >= KEY_LENGTH_NEEDED then
      client_key = signed(key_at(shown))
      info = info .. ", client key " .. client_key
    end
    if captured >= 7 then
      protocol = byte(shown, 7)
      if protocol >= 128 then protocol = protocol - 256 end
      info = info .. ", protocol " .. protocol
    end
  elseif type == KEY_RESPONSE and direction ~= "c2s" and captured >= KEY_LENGTH_NEEDED then
    server_key = signed(key_at(shown))
    info = info .. ", server key " .. server_key
  end
  local cols = pinfo.cols
  cols.protocol = "SubSpace"
  cols.info = info

  -- In view, the decrypted datagram is a data source of its own, whose
  -- bytes the fields point into; otherwise the fields carry the values.
  local item = tree:add(subspace, tvb())
  local visible = tree.visible
  local source = tvb
  local value = nil
  if decrypted_now then
    if visible then
      source = ByteArray.new(shown, true):tvb("Decrypted")
    else
      value = shown
    end
  end
  -- Marks for the eye only, and calls that cost.
  if direction ~= nil then
    local added = item:add(fields.direction, direction)
    if visible then added:set_generated() end
  end
  if captured > 0 then item:add(fields.header, tvb(0, math.min(header, captured))) end
  if captured > header and (decrypted_now or session == nil) then
    local range = source(header, captured - header)
    local payload
    if value ~= nil then
      payload = item:add(fields.payload, range, value:sub(header + 1))
    else
      payload = item:add(fields.payload, range)
    end
    -- An item nobody reads is not made: the call hands back its parent,
    -- or nothing.
    local text = payload.text
    payload_wanted = text ~= nil and text ~= item.text
  end
  local added = item:add(fields.decrypted, session ~= nil)
  if visible then added:set_generated() end
  if client_key ~= nil then item:add(fields.client_key, source(2, 4), client_key) end
  if protocol ~= nil then item:add(fields.protocol, source(6, 1), protocol) end
  if server_key ~= nil then item:add(fields.server_key, source(2, 4), server_key) end
  -- Expert notes reach the expert tap whether or not the item is real.
  if too_long and frame.session ~= nil and not plain then
    item:add_proto_expert_info(experts.too_long)
  end
  local note = frame.note
  if note ~= nil and not (plain and note == experts.no_exchange) then
    item:add_proto_expert_info(note)
  end
end

function subspace.dissector(tvb, pinfo, tree)
  local length = tvb:reported_len()
  if length == 0 then return 0 end
  local name = interface_name()
  name = name and name.value
  if name == "auxiliary" then
    dissect_auxiliary(tvb, pinfo, tree, length)
  elseif name == "game" then
    dissect_game(tvb, pinfo, tree, length, true)
  else
    local source_port, destination_port = pinfo.src_port, pinfo.dst_port
    if (auxiliary_ports[source_port] or auxiliary_ports[destination_port])
        and not (game_ports[source_port] or game_ports[destination_port]) then
      dissect_auxiliary(tvb, pinfo, tree, length)
    else
      -- A game port, or a port given to this protocol by Decode As.
      dissect_game(tvb, pinfo, tree, length, false, source_port, destination_port)
    end
  end
  return length
end

-- Tessard's capture is game traffic whatever ports the relay used.
local function dissect_tessard_capture(tvb, pinfo, tree)
  local name = interface_name()
  name = name and name.value
  if name ~= "game" and name ~= "auxiliary" then return false end
  subspace.dissector(tvb, pinfo, tree)
  return true
end

function subspace.prefs_changed()
  claim_ports()
end

claim_ports()
subspace:register_heuristic("udp", dissect_tessard_capture)
