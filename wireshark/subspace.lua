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

-- What the first pass decided for one frame.
--   direction: "c2s", "s2c", or nil while no key request has named the client
--   session:   the session that decrypts it, or nil
--   plain:     the payload is already plain (Tessard's own capture)
--   note:      an expert note, or nil
local function decide(conversation, source, type, length, bytes, plain)
  local frame = {plain = plain}
  local client = conversation.client
  if client ~= nil then frame.direction = source == client and "c2s" or "s2c" end

  if type == KEY_REQUEST and length == KEY_REQUEST_LENGTH
      and (client == nil or source == client) then
    -- A key request opens a connection and travels in the clear, also
    -- when a client connects again without a disconnect: decrypting it
    -- would garble the new client key and keep the old table in force.
    conversation.client = source
    conversation.session = nil
    conversation.encrypting = false
    frame.direction = "c2s"
    if #bytes >= KEY_LENGTH_NEEDED then
      conversation.client_key = bytes:byte(3) + bytes:byte(4) * 256 + bytes:byte(5) * 65536
                                + bytes:byte(6) * 16777216
    else
      conversation.client_key = nil
      frame.note = experts.not_captured
    end
    return frame
  end

  frame.session = conversation.session
  if type == KEY_RESPONSE and frame.direction ~= "c2s" and not conversation.encrypting then
    if client == nil then
      frame.note = experts.no_request
    elseif length < KEY_LENGTH_NEEDED then
      frame.note = experts.short_key
    elseif conversation.client_key == nil or #bytes < KEY_LENGTH_NEEDED then
      frame.note = experts.not_captured
    else
      -- A key response while encrypting is decrypted and changes nothing.
      local key = bytes:byte(3) + bytes:byte(4) * 256 + bytes:byte(5) * 65536
                  + bytes:byte(6) * 16777216
      conversation.encrypting = true
      conversation.session = cipher.session(key, conversation.client_key)
    end
  elseif type == DISCONNECT then
    -- Decrypted itself, then the end of decryption until the next exchange.
    conversation.encrypting = false
    conversation.session = nil
  end
  if client == nil and type ~= KEY_RESPONSE and not plain then frame.note = experts.no_exchange end
  return frame
end

local function endpoint(address, port)
  return tostring(address) .. ":" .. port
end

local function describe_type(first, second, header, length)
  if header == 2 then
    if second == KEY_REQUEST and length == KEY_REQUEST_LENGTH then return "Key request" end
    if second == KEY_RESPONSE then return "Key response" end
    if second == DISCONNECT then return "Disconnect" end
    return string.format("Type 00 %02X", second)
  end
  return string.format("Type 0x%02X", first)
end

local function dissect_auxiliary(tvb, pinfo, tree)
  pinfo.cols.protocol = "SubSpace"
  pinfo.cols.info = string.format("Auxiliary, %d bytes", tvb:reported_len())
  tree:add(subspace, tvb(), "SubSpace auxiliary"):add(fields.auxiliary, tvb())
end

local function dissect_game(tvb, pinfo, tree, plain)
  local length = tvb:reported_len()
  local captured = tvb:len()
  local first = captured >= 1 and tvb(0, 1):uint() or 0
  local header = cipher.header_size(first, length)
  local second = (header == 2 and captured >= 2) and tvb(1, 1):uint() or nil
  local type = header == 2 and second or nil

  local frame = frames[pinfo.number]
  if frame == nil then
    -- Only the first pass reads or changes the conversation.
    local source = endpoint(pinfo.src, pinfo.src_port)
    local destination = endpoint(pinfo.dst, pinfo.dst_port)
    local key = source < destination and source .. " " .. destination
                or destination .. " " .. source
    local conversation = conversations[key]
    if conversation == nil then
      conversation = {}
      conversations[key] = conversation
    end
    frame = decide(conversation, source, type, length, tvb:raw(0, math.min(captured, 6)), plain)
    frames[pinfo.number] = frame
  end

  local shown = tvb
  local too_long = length - header > cipher.MAX_PAYLOAD
  -- An empty payload counts as decrypted: its conversation is.
  local decrypted = frame.session ~= nil and not frame.plain and not too_long
  if decrypted and captured > header then
    local payload = cipher.decrypt_payload(frame.session, tvb:raw(header, captured - header))
    shown = ByteArray.new(tvb:raw(0, header) .. payload, true):tvb("Decrypted")
  end

  local info = describe_type(first, second, header, length)
  if frame.direction ~= nil then info = frame.direction .. " " .. info end
  local item = tree:add(subspace, tvb())
  if frame.direction ~= nil then
    item:add(fields.direction, frame.direction):set_generated()
  end
  item:add(fields.header, tvb(0, math.min(header, captured)))
  if captured > header then
    item:add(fields.payload, shown(header, captured - header))
  end
  item:add(fields.decrypted, decrypted):set_generated()

  if type == KEY_REQUEST and length == KEY_REQUEST_LENGTH and frame.direction == "c2s" then
    if captured >= KEY_LENGTH_NEEDED then
      item:add_le(fields.client_key, shown(2, 4))
      info = info .. ", client key " .. shown(2, 4):le_int()
    end
    if captured >= 7 then
      item:add(fields.protocol, shown(6, 1))
      info = info .. ", protocol " .. shown(6, 1):int()
    end
  elseif type == KEY_RESPONSE and frame.direction ~= "c2s" and captured >= KEY_LENGTH_NEEDED then
    item:add_le(fields.server_key, shown(2, 4))
    info = info .. ", server key " .. shown(2, 4):le_int()
  end
  if frame.session ~= nil and too_long and not frame.plain then
    item:add_proto_expert_info(experts.too_long)
  end
  if frame.note ~= nil then item:add_proto_expert_info(frame.note) end

  pinfo.cols.protocol = "SubSpace"
  pinfo.cols.info = info
end

function subspace.dissector(tvb, pinfo, tree)
  if tvb:reported_len() == 0 then return 0 end
  local name = interface_name()
  name = name and name.value
  if name == "auxiliary" then
    dissect_auxiliary(tvb, pinfo, tree)
  elseif name == "game" then
    dissect_game(tvb, pinfo, tree, true)
  elseif (auxiliary_ports[pinfo.src_port] or auxiliary_ports[pinfo.dst_port])
      and not (game_ports[pinfo.src_port] or game_ports[pinfo.dst_port]) then
    dissect_auxiliary(tvb, pinfo, tree)
  else
    -- A game port, or a port given to this protocol by Decode As.
    dissect_game(tvb, pinfo, tree, false)
  end
  return tvb:len()
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
