-- SubSpace game protocol for Wireshark and tshark: follows the key exchange
-- of every client/server conversation in a capture, decrypts the game
-- datagrams, unwraps the transport layer packet by packet and joins what
-- was sent in pieces, so that any capture shows the plain protocol.
--
--   tshark -X lua_script:/path/to/subspace.lua -r game.pcapng
--
-- or copy this file, subspace_cipher.lua and subspace_transport.lua into
-- Wireshark's Lua plugins folder; it loads the other two from its own.

local script = debug.getinfo(1, "S").source:gsub("^@", "")
local folder = script:match("^(.*)[/\\]") or "."
local cipher = dofile(folder .. "/subspace_cipher.lua")
local transport = dofile(folder .. "/subspace_transport.lua")

local subspace = Proto("subspace", "SubSpace")

local KEY_REQUEST = transport.KEY_REQUEST
local KEY_RESPONSE = transport.KEY_RESPONSE
local DISCONNECT = transport.DISCONNECT
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
  core = ProtoField.uint8("subspace.core", "Core type", base.HEX),
  game = ProtoField.uint8("subspace.game", "Game type", base.HEX),
  game_data = ProtoField.bytes("subspace.game_data", "Game packet"),
  reliable_id = ProtoField.uint32("subspace.reliable_id", "Reliable id"),
  ack_id = ProtoField.uint32("subspace.ack_id", "Acknowledged id"),
  stream_length = ProtoField.uint32("subspace.stream_length", "Stream length"),
  reassembled_in = ProtoField.framenum("subspace.reassembled_in", "Reassembled in",
                                       base.NONE, frametype.RESPONSE),
  retransmission = ProtoField.framenum("subspace.retransmission", "Retransmission of",
                                       base.NONE, frametype.DUP_ACK),
  sync_time = ProtoField.uint32("subspace.sync_time", "Time"),
  sync_echo = ProtoField.uint32("subspace.sync_echo", "Request time"),
  packets_sent = ProtoField.uint32("subspace.packets_sent", "Packets sent"),
  packets_received = ProtoField.uint32("subspace.packets_received", "Packets received"),
  piece = ProtoField.bytes("subspace.piece", "Piece"),
  data = ProtoField.bytes("subspace.data", "Data"),
  ping_time = ProtoField.uint32("subspace.ping_time", "Ping time"),
  ping_options = ProtoField.uint32("subspace.ping_options", "Ping options"),
  ping_players = ProtoField.uint32("subspace.ping_players", "Players"),
}
subspace.fields = fields

local function expert_of(name, text, group, severity)
  return ProtoExpert.new("subspace." .. name, text, expert.group[group], expert.severity[severity])
end

local experts = {
  too_long = expert_of("too_long", "Payload longer than the key table: not decrypted",
                       "UNDECODED", "WARN"),
  no_request = expert_of("no_key_request",
                         "Key response before any key request: decryption not started",
                         "SEQUENCE", "WARN"),
  short_key = expert_of("key_response_short", "Key response too short to carry a key",
                        "MALFORMED", "WARN"),
  not_captured = expert_of("key_not_captured", "Key not in the captured bytes: not followed",
                           "MALFORMED", "WARN"),
  no_exchange = expert_of("no_key_exchange",
                          "No key exchange seen in this conversation: shown as carried",
                          "SEQUENCE", "NOTE"),
  -- What the transport reader and the reassembly find, by their codes.
  short = expert_of("expert.short", "Packet ends before its fields", "MALFORMED", "WARN"),
  cut = expert_of("expert.cut", "Packet cut short by the capture's snap length", "UNDECODED", "NOTE"),
  extra = expert_of("expert.extra", "Bytes after the packet's fields", "PROTOCOL", "NOTE"),
  empty = expert_of("expert.empty", "Empty packet", "MALFORMED", "WARN"),
  cluster_zero = expert_of("expert.cluster_zero", "Cluster entry of length 0: the rest not read",
                           "MALFORMED", "WARN"),
  cluster_overrun = expert_of("expert.cluster_overrun", "Cluster entry longer than the rest of the cluster",
                              "MALFORMED", "WARN"),
  too_deep = expert_of("expert.too_deep", "Nested too deep: not read further", "MALFORMED", "WARN"),
  too_big = expert_of("expert.too_big", "Packet would grow past 16 MiB: not joined", "MALFORMED", "ERROR"),
  overrun = expert_of("expert.overrun", "Stream pieces longer than the stream: not joined",
                      "MALFORMED", "WARN"),
  restarted = expert_of("expert.restarted", "Stream length differs: the unfinished stream is dropped",
                        "SEQUENCE", "WARN"),
  unknown = expert_of("expert.unknown", "Unknown core packet type", "UNDECODED", "NOTE"),
  waiting = expert_of("expert.waiting", "Ahead of the next reliable id: waits for it", "SEQUENCE", "NOTE"),
  stale = expert_of("expert.stale", "Behind the next reliable id and never seen: not taken",
                    "SEQUENCE", "WARN"),
  retransmission = expert_of("expert.retransmission", "Retransmission: not taken again", "SEQUENCE",
                             "NOTE"),
  dropped = expert_of("expert.dropped",
                      "New connection: the old one's unfinished chunked or streamed packet is dropped",
                      "SEQUENCE", "WARN"),
  ping_length = expert_of("expert.ping_length", "Unexpected length for a ping", "MALFORMED", "WARN"),
}
local expert_list = {}
for _, item in pairs(experts) do expert_list[#expert_list + 1] = item end
subspace.experts = expert_list

-- Game packets go on to these tables by their type byte, so that another
-- script can decode a type without touching this one.
local game_tables = {
  c2s = DissectorTable.new("subspace.c2s", "SubSpace game packets, client to server",
                           ftypes.UINT8, base.HEX, subspace),
  s2c = DissectorTable.new("subspace.s2c", "SubSpace game packets, server to client",
                           ftypes.UINT8, base.HEX, subspace),
}

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
-- Always there, except in a pass that builds no tree.
local frame_number = Field.new("frame.number")
-- Set while such a pass reads a raw IPv4 frame.
local blind = false
-- The relay records the direction as the client sees it: 2 is outbound.
local packet_direction = Field.new("frame.packet_flags_direction")

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

-- Per file: each conversation's key exchange and receivers as far as the
-- first pass has read, and what was decided for each frame when it was
-- first seen (frames, and the reassembly's notes in notes). Later passes
-- (clicks, refiltering, tshark -2) read the decisions, never the
-- conversation, so they show what the first pass showed. Key requests
-- seen by the heuristic wait in requests for their answer, and claimed
-- holds the frame from which a conversation is this protocol's; handlers
-- caches the game tables' look-ups.
-- (A first pass that builds no tree, as tshark -2 without a filter makes,
-- cannot see the interface names: frames of a raw IPv4 capture are then
-- deferred to the next pass, which reads them in order.)
local conversations, frames, notes, requests, claimed, handlers, deferred

local function forget()
  conversations, frames, notes, requests, claimed, deferred = {}, {}, {}, {}, {}, {}
  handlers = {c2s = {}, s2c = {}}
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
--   readable:  whether its bytes are plain once decrypted (false where the
--              keys are not known), so that its packets can be read
--   note:      an expert note, or nil
-- Frames between two events of a conversation share one table per
-- direction, so that a long capture costs one reference a frame.
local function shared(conversation, direction)
  local views = conversation.views
  local view = views[direction or "none"]
  if view == nil then
    view = {direction = direction, session = conversation.session,
            readable = conversation.encrypting}
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

-- A connection's receivers start afresh.
local function new_connection(conversation)
  conversation.flows = {c2s = transport.new_flow(), s2c = transport.new_flow(),
                        none = transport.new_flow()}
end

local function decide(conversation, source, type, length, raw)
  local client = conversation.client
  local direction = nil
  if client ~= nil then direction = source == client and "c2s" or "s2c" end

  if type == KEY_REQUEST and length == KEY_REQUEST_LENGTH
      and (client == nil or source == client) then
    -- A key request opens a connection and travels in the clear, also when
    -- a client connects again without a disconnect. Decryption stays as it
    -- is: what was sent before it under the old keys is still in flight.
    conversation.client = source
    conversation.requested = true
    -- Pieces of the old connection that never got their tail or their
    -- last piece are dropped with it.
    local dropped = false
    for _, flow in pairs(conversation.flows) do
      dropped = dropped or flow.chunk.size > 0 or flow.stream ~= nil
    end
    new_connection(conversation)
    local frame = {direction = "c2s", readable = true, dropped = dropped or nil}
    if #raw >= KEY_LENGTH_NEEDED then
      conversation.client_key = key_at(raw)
    else
      conversation.client_key = nil
      frame.note = experts.not_captured
    end
    return frame
  end

  -- The first key response after a key request is read as sent and sets up
  -- the new keys; another while decrypting is decrypted and changes nothing.
  if type == KEY_RESPONSE and direction ~= "c2s"
      and (not conversation.encrypting or conversation.requested) then
    local frame = {direction = direction, readable = true}
    if client == nil then
      frame.note = experts.no_request
    elseif length < KEY_LENGTH_NEEDED then
      frame.note = experts.short_key
    elseif conversation.client_key == nil or #raw < KEY_LENGTH_NEEDED then
      frame.note = experts.not_captured
    else
      set_session(conversation, true, cipher.session(key_at(raw), conversation.client_key))
      conversation.requested = false
    end
    return frame
  end

  if type == DISCONNECT then
    -- Decrypted itself, then the end of decryption until the next exchange.
    local frame = {direction = direction, session = conversation.session,
                   readable = conversation.encrypting}
    set_session(conversation, false, nil)
    return frame
  end
  return shared(conversation, direction)
end

local QUOTED = {}
local NO_NOTES = {}

local function endpoint(address, port)
  return tostring(address) .. ":" .. port
end

local function conversation_key(source, destination)
  return source < destination and source .. " " .. destination or destination .. " " .. source
end

-- A signed 32-bit number from an unsigned one.
local function signed(value)
  return value >= 2147483648 and value - 4294967296 or value
end

local function u32(text, at)
  local a, b, c, d = byte(text, at, at + 3)
  return a + b * 256 + c * 65536 + d * 16777216
end

-- The ping protocol of the auxiliary pair: the client sends a time stamp
-- (and perhaps options), the server answers with its player count and the
-- time stamp echoed.
local function dissect_auxiliary(tvb, pinfo, tree, length, direction)
  local raw = tvb:raw()
  local item = tree:add(subspace, tvb(), "SubSpace auxiliary")
  item:add(fields.auxiliary, tvb())
  local info
  if direction == "c2s" and #raw >= 4 then
    item:add_le(fields.ping_time, tvb(0, 4))
    if #raw >= 8 then item:add_le(fields.ping_options, tvb(4, 4)) end
    info = format("c2s ping, time %.0f", u32(raw, 1))
    if length ~= 4 and length ~= 8 then item:add_proto_expert_info(experts.ping_length) end
  elseif direction == "s2c" and #raw >= 8 then
    item:add_le(fields.ping_players, tvb(0, 4))
    item:add_le(fields.ping_time, tvb(4, 4))
    info = format("s2c ping reply, %.0f players, time %.0f", u32(raw, 1), u32(raw, 5))
    if length ~= 8 then item:add_proto_expert_info(experts.ping_length) end
  else
    info = format("Auxiliary, %d bytes", length)
    if direction ~= nil then item:add_proto_expert_info(experts.ping_length) end
  end
  local cols = pinfo.cols
  cols.protocol = "SubSpace"
  cols.info = info
end

-- The hand-off of one game packet type in one direction, looked up once.
local function handler(direction, type)
  local cache = handlers[direction]
  local found = cache[type]
  if found == nil then
    found = game_tables[direction]:get_dissector(type) or false
    cache[type] = found
  end
  return found
end

-- The data source of a node, made when first needed.
local function source_tvb(where, index)
  local tvb = where.tvbs[index]
  if tvb == nil then
    tvb = ByteArray.new(where.sources[index], true):tvb(index == 1 and "Decrypted" or "Reassembled")
    where.tvbs[index] = tvb
  end
  return tvb
end

-- A game packet goes on to the decoder of its type and direction, if any.
local function hand_off(item, node, where)
  local direction = where.direction
  if direction == nil then return end
  local decoder = handler(direction, node.game)
  if decoder then
    decoder:call(source_tvb(where, node.source)(node.offset, node.size):tvb(), where.pinfo, item)
  end
end

-- What the reader and the reassembly found about a node, as expert notes
-- and generated fields.
local function add_marks(item, node, where)
  local problem = node.problem
  if problem ~= nil then
    if problem == "short" and where.cut then problem = "cut" end
    item:add_proto_expert_info(experts[problem])
  end
  local note = node.note
  if note == nil then return end
  local record = note.record
  if record ~= nil and record.frame ~= nil and record.frame > where.number then
    item:add(fields.reassembled_in, record.frame):set_generated()
  end
  if note.retransmission ~= nil then
    item:add(fields.retransmission, note.retransmission):set_generated()
    item:add_proto_expert_info(experts.retransmission)
  end
  if note.problem ~= nil then item:add_proto_expert_info(experts[note.problem]) end
  if note.waiting ~= nil then
    item:add_proto_expert_info(experts.waiting,
                               format("Ahead of the next reliable id, %.0f: waits for it",
                                      note.waiting))
  end
  if note.stale ~= nil then item:add_proto_expert_info(experts.stale) end
end

-- Out of view (tshark asked for fields, a filter) nobody sees subtrees or
-- byte ranges: every packet's fields go onto item as plain values, in the
-- same order, which costs a third of the tree.
local function add_values(item, node, where)
  local core = node.core
  if node.game ~= nil then
    item:add(fields.game, node.game)
    local offset, size = node.offset, node.size
    if node.source == 1 then
      -- The datagram's own bytes give the range, the decrypted ones the value.
      item:add(fields.game_data, where.raw(offset, size),
               where.sources[1]:sub(offset + 1, offset + size))
    else
      item:add(fields.game_data, source_tvb(where, node.source)(offset, size))
    end
    hand_off(item, node, where)
  elseif core then
    item:add(fields.core, core)
    if node.id ~= nil then item:add(fields.reliable_id, node.id) end
    if node.ack ~= nil then item:add(fields.ack_id, node.ack) end
    if node.length ~= nil then item:add(fields.stream_length, node.length) end
  end
  if node.problem ~= nil or node.note ~= nil then add_marks(item, node, where) end
  local children = node.children
  if children ~= nil then
    for i = 1, #children do add_values(item, children[i], where) end
  end
end

-- One packet and all it holds as subtrees of parent. where: the frame's
-- data sources (tvbs, made as needed from sources), its number, direction,
-- and whether the datagram was cut short by the capture.
local function add_packet(parent, node, where)
  local tvb = source_tvb(where, node.source)
  local offset, size = node.offset, node.size
  local label
  if node.game ~= nil then
    label = format("Game packet 0x%02X, %d bytes", node.game, size)
  elseif node.core then
    local name = transport.NAMES[node.core]
    label = name and name:sub(1, 1):upper() .. name:sub(2)
            or format("Core packet 00 %02X", node.core)
    if node.id ~= nil then label = format("%s %.0f", label, node.id) end
  else
    label = "Core packet"
  end
  if node.reassembled then label = "Reassembled " .. label:sub(1, 1):lower() .. label:sub(2) end
  local item
  if size > 0 then
    item = parent:add(tvb(offset, size), label)
  else
    item = parent:add(subspace, tvb(), label .. ", empty")
  end

  local core = node.core
  if node.game ~= nil then
    item:add(fields.game, tvb(offset, 1))
    item:add(fields.game_data, tvb(offset, size))
    hand_off(item, node, where)
  elseif core then
    item:add(fields.core, tvb(offset + 1, 1))
    local body = offset + 2
    if node.id ~= nil then item:add_le(fields.reliable_id, tvb(body, 4)) end
    if node.ack ~= nil then item:add_le(fields.ack_id, tvb(body, 4)) end
    if node.length ~= nil then item:add_le(fields.stream_length, tvb(body, 4)) end
    if core == transport.SYNC_REQUEST and node.time ~= nil then
      item:add_le(fields.sync_time, tvb(body, 4))
      if node.sent ~= nil then
        item:add_le(fields.packets_sent, tvb(body + 4, 4))
        item:add_le(fields.packets_received, tvb(body + 8, 4))
      end
    elseif core == transport.SYNC_RESPONSE and node.time ~= nil then
      item:add_le(fields.sync_echo, tvb(body, 4))
      item:add_le(fields.sync_time, tvb(body + 4, 4))
    end
    if node.piece_size ~= nil and node.piece_size > 0 then
      item:add(fields.piece, tvb(node.piece_offset, node.piece_size))
    end
    if node.unknown then
      item:add_proto_expert_info(experts.unknown)
      if size > 2 then item:add(fields.data, tvb(body, size - 2)) end
    end
  end
  add_marks(item, node, where)

  local children = node.children
  if children ~= nil then
    for i = 1, #children do add_packet(item, children[i], where) end
  end
end

-- The top packet of a datagram whose bytes are not plain: only its type,
-- which the header keeps clear, is known.
local function opaque_node(first, second, header, captured)
  local node = {source = 1, offset = 0, size = captured, children = {}}
  if first == nil then return nil end
  if first ~= 0 then
    node.game = first
  elseif header == 2 and second ~= nil then
    node.core = second
  else
    node.core = false
  end
  return node
end

local function dissect_game(tvb, pinfo, tree, length, plain, source_port, destination_port)
  local raw = tvb:raw()  -- as captured, which a short snap length may have cut
  local captured = #raw
  local first, second = byte(raw, 1, 2)
  local header = cipher.header_size(first or 0, length)
  local type = header == 2 and second or nil

  local number = pinfo.number
  local frame = frames[number]
  local flow
  if frame == nil and blind then
    pinfo.cols.protocol = "SubSpace"
    return length
  elseif frame == nil and pinfo.visited and not deferred[number] then
    -- A frame that the first pass left to other dissectors: the
    -- conversation that the heuristic claimed later covers it now.
    return 0
  elseif frame == nil and pinfo.in_error_pkt then
    -- A datagram quoted in an ICMP error is a copy of one seen before: it
    -- is shown as carried and changes nothing.
    frame = QUOTED
    frames[number] = frame
  elseif frame == nil then
    -- Only the first pass reads or changes the conversation.
    local source = endpoint(pinfo.src, source_port or pinfo.src_port)
    local destination = endpoint(pinfo.dst, destination_port or pinfo.dst_port)
    local key = conversation_key(source, destination)
    local from = claimed[key]
    if deferred[number] and not plain and from ~= nil and number < from
        and not (type == KEY_REQUEST and length == KEY_REQUEST_LENGTH) then
      -- Before its key exchange the conversation was not yet known.
      return 0
    end
    local conversation = conversations[key]
    if conversation == nil then
      conversation = {views = {}}
      new_connection(conversation)
      conversations[key] = conversation
    end
    frame = decide(conversation, source, type, length, raw)
    frames[number] = frame
    flow = conversation.flows[frame.direction or "none"]
  end

  local too_long = length - header > cipher.MAX_PAYLOAD
  local session = not plain and not too_long and frame.session or nil
  local shown = raw
  local decrypted_now = session ~= nil and captured > header
  if decrypted_now then
    shown = raw:sub(1, header) .. cipher.decrypt_payload(session, raw:sub(header + 1))
  end
  local readable = plain or (frame.readable and not (too_long and frame.session ~= nil))

  -- In view, the decrypted datagram is a data source of its own, whose
  -- bytes the fields point into; otherwise the fields carry the values.
  local visible = tree.visible
  local source = tvb
  if decrypted_now and visible then source = ByteArray.new(shown, true):tvb("Decrypted") end

  local direction = frame.direction
  local node, sources
  if readable and captured > 0 then
    -- The first pass keeps a frame's notes only where the reassembly
    -- noted something.
    local stored = notes[number]
    local fresh = stored == nil and flow ~= nil
    if fresh then stored = {} end
    node, sources = transport.read(shown, number, flow, stored or NO_NOTES)
    if fresh and next(stored) ~= nil then notes[number] = stored end
  else
    node = opaque_node(first, second, header, captured)
  end

  local summary = node and transport.summary(node) or "not captured"
  if not readable and node ~= nil then summary = summary .. ", not decrypted" end
  local client_key, protocol, server_key
  if type == KEY_REQUEST and length == KEY_REQUEST_LENGTH and direction == "c2s" then
    if captured >= KEY_LENGTH_NEEDED then
      client_key = signed(key_at(shown))
      summary = summary .. ", client key " .. client_key
    end
    if captured >= 7 then
      protocol = byte(shown, 7)
      if protocol >= 128 then protocol = protocol - 256 end
      summary = summary .. ", protocol " .. protocol
    end
  elseif type == KEY_RESPONSE and direction ~= "c2s" and captured >= KEY_LENGTH_NEEDED then
    server_key = signed(key_at(shown))
    summary = summary .. ", server key " .. server_key
  end
  local cols = pinfo.cols
  cols.protocol = "SubSpace"
  cols.info = direction ~= nil and direction .. " " .. summary or summary

  local item = tree:add(subspace, tvb())
  -- Marks for the eye only, and calls that cost.
  if direction ~= nil then
    local added = item:add(fields.direction, direction)
    if visible then added:set_generated() end
  end
  if captured > 0 then item:add(fields.header, tvb(0, math.min(header, captured))) end
  if captured > header and (decrypted_now or session == nil) then
    if visible then
      item:add(fields.payload, source(header, captured - header))
    else
      -- A bytes field takes its length from its range: the datagram's own
      -- bytes, where the value is the decrypted text.
      item:add(fields.payload, tvb(header, captured - header), shown:sub(header + 1))
    end
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
  if frame.dropped then item:add_proto_expert_info(experts.dropped) end
  if node ~= nil then
    local where = {tvbs = {(visible or not decrypted_now) and source or nil},
                   sources = sources or {shown}, raw = tvb,
                   number = number,
                   direction = direction, pinfo = pinfo, cut = captured < length}
    if visible then add_packet(item, node, where) else add_values(item, node, where) end
  end
  return length
end

local function auxiliary_direction(pinfo, name)
  if name == "auxiliary" then
    local flag = packet_direction()
    flag = flag and tonumber(tostring(flag.value))
    if flag == 2 then return "c2s" elseif flag == 1 then return "s2c" end
    return nil
  end
  local to_server = auxiliary_ports[pinfo.dst_port]
  local from_server = auxiliary_ports[pinfo.src_port]
  if to_server and not from_server then return "c2s" end
  if from_server and not to_server then return "s2c" end
  return nil
end

-- The interface name of the frame that the capture wrapper below has just
-- looked up, so that it is read once a frame.
local named_frame, frame_interface = nil, nil

local function interface_of(pinfo)
  if named_frame == pinfo.number then return frame_interface end
  local name = interface_name()
  return name and name.value
end

function subspace.dissector(tvb, pinfo, tree)
  local length = tvb:reported_len()
  if length == 0 then return 0 end
  local name = interface_of(pinfo)
  if name == "auxiliary" then
    dissect_auxiliary(tvb, pinfo, tree, length, auxiliary_direction(pinfo, name))
    return length
  elseif name == "game" then
    return dissect_game(tvb, pinfo, tree, length, true)
  end
  local source_port, destination_port = pinfo.src_port, pinfo.dst_port
  if (auxiliary_ports[source_port] or auxiliary_ports[destination_port])
      and not (game_ports[source_port] or game_ports[destination_port]) then
    dissect_auxiliary(tvb, pinfo, tree, length, auxiliary_direction(pinfo, name))
    return length
  end
  -- A game port, a port given to this protocol by Decode As, or a
  -- conversation that its key exchange gave away.
  return dissect_game(tvb, pinfo, tree, length, false, source_port, destination_port)
end

-- On any port no other dissector claims: a key request of exactly 8 bytes
-- is taken, and the key response that answers it the other way claims the
-- whole conversation.
local function heuristic(tvb, pinfo, tree)
  if pinfo.visited and not deferred[pinfo.number] then
    if frames[pinfo.number] == nil then return false end
    return subspace.dissector(tvb, pinfo, tree) > 0
  end
  if tvb:captured_len() < 2 or tvb(0, 1):uint() ~= 0 then return false end
  local type, length = tvb(1, 1):uint(), tvb:reported_len()
  local source = endpoint(pinfo.src, pinfo.src_port)
  local destination = endpoint(pinfo.dst, pinfo.dst_port)
  if type == KEY_REQUEST and length == KEY_REQUEST_LENGTH then
    requests[source .. " " .. destination] = true
  elseif not (type == KEY_RESPONSE and length >= KEY_LENGTH_NEEDED
              and requests[destination .. " " .. source]) then
    return false
  else
    pinfo.conversation = subspace
    local key = conversation_key(source, destination)
    claimed[key] = claimed[key] or pinfo.number
  end
  return subspace.dissector(tvb, pinfo, tree) > 0
end

-- Tessard's capture is game traffic whatever ports the relay used, also
-- ports that Wireshark gives to other protocols: for each of its frames
-- (raw IPv4, interfaces "game" and "auxiliary") the frame's two ports are
-- this protocol's while UDP reads it, and theirs again afterwards.
local encapsulations = DissectorTable.get("wtap_encap")
local RAW_IP4 = wtap_encaps and wtap_encaps.RAW_IP4
local raw_ip4 = RAW_IP4 and encapsulations:get_dissector(RAW_IP4)
local tessard_capture = Proto("subspace_capture", "SubSpace relay capture")

local function lend_port(port)
  local owner = udp_ports:get_dissector(port)
  if owner ~= nil and tostring(owner):lower() == "subspace" then return true end
  udp_ports:add(port, subspace)
  return owner or false
end

local function return_port(port, owner)
  if owner == true then return end
  udp_ports:remove(port, subspace)
  if owner then udp_ports:add(port, owner) end
end

function tessard_capture.dissector(tvb, pinfo, tree)
  local name = interface_name()
  name = name and name.value
  named_frame, frame_interface = pinfo.number, name
  if name == nil and frame_number() == nil then
    deferred[pinfo.number] = true
    blind = true
    local ok, result = pcall(raw_ip4.call, raw_ip4, tvb, pinfo, tree)
    blind = false
    if not ok then error(result, 0) end
    return result
  end
  if (name ~= "game" and name ~= "auxiliary") or tvb:captured_len() < 28 then
    return raw_ip4:call(tvb, pinfo, tree)
  end
  local header = tvb(0, 1):uint()
  local length = header % 16 * 4
  if header < 64 or header >= 80 or tvb(9, 1):uint() ~= 17 or tvb:captured_len() < length + 4 then
    return raw_ip4:call(tvb, pinfo, tree)
  end
  local source_port, destination_port = tvb(length, 2):uint(), tvb(length + 2, 2):uint()
  local source_owner, destination_owner = lend_port(source_port), lend_port(destination_port)
  local ok, result = pcall(raw_ip4.call, raw_ip4, tvb, pinfo, tree)
  return_port(destination_port, destination_owner)
  return_port(source_port, source_owner)
  if not ok then error(result, 0) end
  return result
end

function subspace.prefs_changed()
  claim_ports()
end

claim_ports()
subspace:register_heuristic("udp", heuristic)
if raw_ip4 ~= nil then encapsulations:add(RAW_IP4, tessard_capture) end
