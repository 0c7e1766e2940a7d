-- How the SubSpace dissector shows a frame: its fields, expert notes,
-- subtrees and Info column. One path renders a packet whether or not a
-- tree is in view, so a display filter matches exactly what the full tree
-- shows; out of view it skips the subtrees' labels and the decrypted data
-- source, and gives the fields their values directly. Loaded as a plugin
-- by itself it only returns a function; the dissector calls it with its
-- protocol, transport reader and cipher.

return function(subspace, transport, cipher)
  local folder = (debug.getinfo(1, "S").source:gsub("^@", "")):match("^(.*)[/\\]") or "."
  local le = dofile(folder .. "/subspace_le.lua")
  local u32 = le.u32
  local byte, sub, format = string.byte, string.sub, string.format
  -- Wireshark's methods that every frame calls, called as functions: a
  -- method looked up on its object is a call into Wireshark of its own.
  local tree_add, tree_add_le, set_generated = TreeItem.add, TreeItem.add_le,
                                               TreeItem.set_generated
  local range = Tvb.range

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
    return ProtoExpert.new("subspace." .. name, text, expert.group[group],
                           expert.severity[severity])
  end

  -- By the names that the decisions and the transport reader give them.
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
    short = expert_of("expert.short", "Packet ends before its fields", "MALFORMED", "WARN"),
    cut = expert_of("expert.cut", "Packet cut short by the capture's snap length", "UNDECODED",
                    "NOTE"),
    extra = expert_of("expert.extra", "Bytes after the packet's fields", "PROTOCOL", "NOTE"),
    empty = expert_of("expert.empty", "Empty packet", "MALFORMED", "WARN"),
    cluster_zero = expert_of("expert.cluster_zero", "Cluster entry of length 0: the rest not read",
                             "MALFORMED", "WARN"),
    cluster_overrun = expert_of("expert.cluster_overrun",
                                "Cluster entry longer than the rest of the cluster",
                                "MALFORMED", "WARN"),
    too_deep = expert_of("expert.too_deep", "Nested too deep: not read further", "MALFORMED",
                         "WARN"),
    too_big = expert_of("expert.too_big", "Packet would grow past 16 MiB: not joined",
                        "MALFORMED", "ERROR"),
    overrun = expert_of("expert.overrun", "Stream pieces longer than the stream: not joined",
                        "MALFORMED", "WARN"),
    restarted = expert_of("expert.restarted",
                          "Stream length differs: the unfinished stream is dropped",
                          "SEQUENCE", "WARN"),
    start_missing = expert_of("expert.start_missing",
                              "Piece of a packet whose start is not in the capture: not joined",
                              "SEQUENCE", "NOTE"),
    missing = expert_of("expert.missing", "Reliable id not in the capture", "SEQUENCE", "WARN"),
    unknown = expert_of("expert.unknown", "Unknown core packet type", "UNDECODED", "NOTE"),
    waiting = expert_of("expert.waiting", "Ahead of the next reliable id: waits for it",
                        "SEQUENCE", "NOTE"),
    stale = expert_of("expert.stale", "Behind the next reliable id and never seen: not taken",
                      "SEQUENCE", "WARN"),
    retransmission = expert_of("expert.retransmission", "Retransmission: not taken again",
                               "SEQUENCE", "NOTE"),
    dropped = expert_of("expert.dropped",
                        "New connection: the old one's unfinished chunked or streamed packet is dropped",
                        "SEQUENCE", "WARN"),
    ping_length = expert_of("expert.ping_length", "Unexpected length for a ping", "MALFORMED",
                            "WARN"),
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
  local handlers

  local render = {}

  -- The game tables' look-ups are cached per file: decoders register when
  -- a file is opened.
  function render.forget()
    handlers = {c2s = {}, s2c = {}}
  end
  render.forget()

  -- The ping protocol of the auxiliary pair: the client sends a time stamp
  -- (and perhaps options), the server answers with its player count and
  -- the time stamp echoed.
  function render.auxiliary(tvb, pinfo, tree, length, direction)
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

  -- A datagram's bytes as shown. Those of a game packet alone are
  -- decrypted when first asked for: many views show only its type, which
  -- its header keeps clear.
  local function shown_of(where)
    local shown = where.shown
    if not shown then
      shown = cipher.decrypt_after(where.session, where.captured, where.header)
      where.shown = shown
    end
    return shown
  end

  -- The data source of a node, made when first needed: the datagram's own
  -- where its bytes are shown as captured.
  local function source_tvb(where, index)
    local tvbs = where.tvbs
    if not tvbs then
      tvbs = {where.captured_source or nil}
      where.tvbs = tvbs
    end
    local tvb = tvbs[index]
    if tvb == nil then
      local bytes = index == 1 and shown_of(where) or where.sources[index]
      tvb = ByteArray.new(bytes, true):tvb(index == 1 and "Decrypted" or "Reassembled")
      tvbs[index] = tvb
    end
    return tvb
  end

  -- Where someone looks at the bytes (Wireshark's details pane) every
  -- field points to its bytes, in a data source of the decrypted or joined
  -- bytes. Elsewhere (tshark, the packet list, filters) a number is given
  -- by its value alone and a byte string by the datagram's own bytes,
  -- which lie at the same offsets: each costs one call and no data source.
  local gui = gui_enabled ~= nil and gui_enabled() or false

  -- Out of view, Wireshark gives a field that no filter, column or field
  -- extractor asks for a stand-in, the item it was added to, and the Lua
  -- call that makes it costs as much as a real one. The first add of each
  -- field in a pass tells which it gets, and later adds of a stand-in are
  -- left out. A pass is known by its frame numbers going up: refiltering,
  -- a second pass, a statistics window each start at a number not above
  -- the last one seen, and then ask for the fields anew.
  local stand_in, last_number = {}, math.huge

  local function start_frame(number)
    if number <= last_number then stand_in = {} end
    last_number = number
  end

  -- Whether an add of field would go nowhere in this pass.
  local function nowhere(where, field)
    return where.hidden and stand_in[field]
  end

  -- Out of view, what the first add of field in a pass gave tells whether
  -- later ones are wanted. Returns the item added.
  local function learn(where, field, added)
    if where.hidden and stand_in[field] == nil then
      where.top_text = where.top_text or where.top.text
      stand_in[field] = added.text == where.top_text
    end
    return added
  end

  -- A field's value at its bytes. In view but not in the GUI (tshark's
  -- -V and -T fields, the common case) it goes straight on; the other
  -- views take their own ways.
  local function add_number(item, field, where, source, offset, size, value)
    if where.plain then
      tree_add(item, field, value)
    elseif where.exact then
      tree_add_le(item, field, range(source_tvb(where, source), offset, size), value)
    elseif not stand_in[field] then
      learn(where, field, tree_add(item, field, value))
    end
  end

  local function add_bytes(item, field, where, source, offset, size)
    if where.exact or source ~= 1 then
      if not nowhere(where, field) then
        learn(where, field, tree_add(item, field, range(source_tvb(where, source), offset, size)))
      end
    elseif where.plain then
      tree_add(item, field, range(where.raw, offset, size),
               sub(shown_of(where), offset + 1, offset + size))
    elseif not stand_in[field] then
      learn(where, field, tree_add(item, field, range(where.raw, offset, size),
                                   sub(shown_of(where), offset + 1, offset + size)))
    end
  end

  -- A game packet goes on to the decoder of its type and direction, if any.
  -- A decoder that fails on its packet marks it malformed there, and the
  -- rest of the frame is shown all the same.
  local function hand_off(item, node, where)
    local direction = where.direction
    if direction == nil then return end
    local decoder = handler(direction, node.game)
    if decoder then
      pcall(decoder.call, decoder, source_tvb(where, node.source)(node.offset, node.size):tvb(),
            where.pinfo, item)
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
    if record ~= nil and record.frame ~= nil and record.frame > where.number
        and not nowhere(where, fields.reassembled_in) then
      learn(where, fields.reassembled_in, item:add(fields.reassembled_in, record.frame))
        :set_generated()
    end
    if note.retransmission ~= nil then
      if not nowhere(where, fields.retransmission) then
        learn(where, fields.retransmission, item:add(fields.retransmission, note.retransmission))
          :set_generated()
      end
      item:add_proto_expert_info(experts.retransmission)
    end
    if note.problem ~= nil then item:add_proto_expert_info(experts[note.problem]) end
    if note.waiting ~= nil then
      item:add_proto_expert_info(experts.waiting,
                                 format("Ahead of the next reliable id, %.0f: waits for it",
                                        note.waiting))
    end
    if note.stale ~= nil then item:add_proto_expert_info(experts.stale) end
    local missing = note.missing
    if missing ~= nil then
      for i = 1, #missing do
        local first, last = missing[i][1], missing[i][2]
        item:add_proto_expert_info(experts.missing, first == last
          and format("Reliable id %.0f is not in the capture", first)
          or format("Reliable ids %.0f to %.0f are not in the capture", first, last))
      end
    end
  end

  -- A packet's subtree label, for the eye only. Its fixed parts are made
  -- once, by type; nothing made for one packet is kept, for a cache of
  -- whole labels would hold as many texts as the capture has sizes.
  local decimal = transport.decimal
  local game_labels, core_labels = {}, {}
  for type = 0, 255 do
    game_labels[type] = format("Game packet 0x%02X, ", type)
    local name = transport.NAMES[type]
    core_labels[type] = name and name:sub(1, 1):upper() .. name:sub(2)
                        or format("Core packet 00 %02X", type)
  end

  local function label_of(node)
    local label
    if node.game ~= nil then
      label = game_labels[node.game] .. decimal(node.size) .. " bytes"
    elseif node.core then
      label = core_labels[node.core]
      if node.id ~= nil then label = label .. " " .. decimal(node.id) end
    else
      label = "Core packet"
    end
    if node.size == 0 then label = label .. ", empty" end
    if node.reassembled then return "Reassembled " .. label:sub(1, 1):lower() .. label:sub(2) end
    return label
  end

  -- One packet and all it holds: fields once per packet, outer before
  -- inner, then left to right. In view each packet is a subtree of its own,
  -- headed by its type field under the packet's name (one item where a
  -- heading and a type line would cost two on every packet); out of view
  -- the fields go onto parent, and where no filter asks for this protocol
  -- (unseen) only what reaches others is added: the expert notes and the
  -- hand-off to game decoders.
  local function add_packet(parent, node, where)
    local source, offset, size = node.source, node.offset, node.size
    local item = parent
    if where.unseen then
      if node.game ~= nil then hand_off(item, node, where) end
      if node.problem ~= nil or node.note ~= nil then add_marks(item, node, where) end
      local children = node.children
      if children ~= nil then
        for i = 1, #children do add_packet(item, children[i], where) end
      end
      return
    end
    local game, core = node.game, node.core
    local headed = false
    if where.visible then
      local label = label_of(node)
      if game == nil and not core then
        item = tree_add(parent, size > 0 and where.exact
                                and range(source_tvb(where, source), offset, size)
                                or where.whole, label)
      elseif where.exact then
        item = tree_add_le(parent, game and fields.game or fields.core,
                           range(source_tvb(where, source), offset, size), game or core, label)
        headed = true
      else
        item = tree_add(parent, game and fields.game or fields.core, game or core, label)
        headed = true
      end
    end
    if game ~= nil then
      if not headed then add_number(item, fields.game, where, source, offset, 1, game) end
      add_bytes(item, fields.game_data, where, source, offset, size)
      hand_off(item, node, where)
    elseif core then
      if not headed then add_number(item, fields.core, where, source, offset + 1, 1, core) end
      local body = offset + 2
      -- The reader has read the numbers already.
      if node.id ~= nil then
        add_number(item, fields.reliable_id, where, source, body, 4, node.id)
      elseif node.ack ~= nil then
        add_number(item, fields.ack_id, where, source, body, 4, node.ack)
      elseif node.length ~= nil then
        add_number(item, fields.stream_length, where, source, body, 4, node.length)
      elseif core == transport.SYNC_REQUEST and node.time ~= nil then
        add_number(item, fields.sync_time, where, source, body, 4, node.time)
        if node.sent ~= nil then
          add_number(item, fields.packets_sent, where, source, body + 4, 4, node.sent)
          add_number(item, fields.packets_received, where, source, body + 8, 4, node.received)
        end
      elseif core == transport.SYNC_RESPONSE and node.time ~= nil then
        add_number(item, fields.sync_echo, where, source, body, 4, node.echo)
        add_number(item, fields.sync_time, where, source, body + 4, 4, node.time)
      end
      if node.piece_size ~= nil and node.piece_size > 0 then
        add_bytes(item, fields.piece, where, source, node.piece_offset, node.piece_size)
      end
      if node.unknown then
        item:add_proto_expert_info(experts.unknown)
        if size > 2 then add_bytes(item, fields.data, where, source, body, size - 2) end
      end
    end
    if node.problem ~= nil or node.note ~= nil then add_marks(item, node, where) end
    local children = node.children
    if children ~= nil then
      for i = 1, #children do add_packet(item, children[i], where) end
    end
  end

  -- What a frame's rendering knows, in a table that is used again for the
  -- next frame; a frame rendered while another is (a game decoder that
  -- calls back) gets one of its own.
  local spare_where = {}

  -- A game datagram, d (false stands for absent): frame: the decision for
  -- it; plain: the capture holds it decrypted already; shown: its bytes as
  -- read (decrypted where the session was applied), absent for a game
  -- packet not decrypted yet; session: the session applied; node and
  -- sources: what the transport reader made of it; header: the size of the
  -- header the cipher leaves clear; too_long: longer than the key table
  -- while the conversation decrypts.
  function render.game(tvb, pinfo, tree, d)
    local raw, shown, length, header = d.raw, d.shown or nil, d.length, d.header
    local captured, frame, node, session = #raw, d.frame, d.node or nil, d.session or nil
    local number, sources, plain, too_long = d.number, d.sources or nil, d.plain, d.too_long
    local direction = frame.direction
    local visible = tree.visible

    local type = header == 2 and byte(raw, 2) or nil
    local client_key, protocol, server_key
    if type == transport.KEY_REQUEST and length == 8 and direction == "c2s" then
      client_key = le.s32(shown, 3)
      protocol = byte(shown, 7)
      if protocol ~= nil and protocol >= 128 then protocol = protocol - 256 end
    elseif type == transport.KEY_RESPONSE and direction ~= "c2s" then
      server_key = le.s32(shown, 3)
    end
    local cols = pinfo.cols
    -- Views with the tree in view seldom build columns (tshark's -V and
    -- -T fields do not). Where none is built Wireshark names the column
    -- "(info)", and the Info text is not made for nothing.
    if not visible or tostring(cols.info) ~= "(info)" then
      local summary = node and transport.summary(node) or "not captured"
      if not d.readable and node ~= nil then summary = summary .. ", not decrypted" end
      if client_key ~= nil then summary = summary .. ", client key " .. client_key end
      if protocol ~= nil then summary = summary .. ", protocol " .. protocol end
      if server_key ~= nil then summary = summary .. ", server key " .. server_key end
      cols.protocol = "SubSpace"
      cols.info = direction ~= nil and direction .. " " .. summary or summary
    end

    local decrypted_now = session ~= nil and captured > header
    start_frame(number)
    local where = spare_where or {}
    spare_where = nil
    -- Set to false, not nil, where absent: a table used again keeps its
    -- keys, and keys set to nil and back cost it a rehash now and then.
    where.tvbs, where.top_text, where.unseen = false, false, false
    where.captured_source = not decrypted_now and tvb
    where.sources, where.shown, where.raw = sources or false, shown or false, tvb
    where.captured, where.session, where.header = raw, session or false, header
    where.visible, where.hidden = visible, not visible
    where.plain, where.exact = visible and not gui, visible and gui
    where.whole = range(tvb)
    where.number, where.direction, where.pinfo = number, direction, pinfo
    where.cut = captured < length
    local item = tree_add(tree, subspace, where.whole)
    where.top = item
    -- Out of view, no filter names this protocol or a field of it when
    -- Wireshark gives a stand-in item: fields would go nowhere.
    if not visible then
      -- Which of the two it is holds for the whole pass, like the fields'.
      local unseen = stand_in[subspace]
      if unseen == nil then
        unseen = item.text == nil
        stand_in[subspace] = unseen
      end
      where.unseen = unseen
    end
    if not where.unseen then
      -- Marks for the eye only are set where someone looks.
      if direction ~= nil and not nowhere(where, fields.direction) then
        local added = learn(where, fields.direction, tree_add(item, fields.direction, direction))
        if visible then set_generated(added) end
      end
      if captured > 0 and not nowhere(where, fields.header) then
        learn(where, fields.header,
              tree_add(item, fields.header, range(tvb, 0, math.min(header, captured))))
      end
      if captured > header and (decrypted_now or session == nil) then
        add_bytes(item, fields.payload, where, 1, header, captured - header)
      end
      if not nowhere(where, fields.decrypted) then
        local added = learn(where, fields.decrypted, tree_add(item, fields.decrypted, session ~= nil))
        if visible then set_generated(added) end
      end
      if client_key ~= nil then add_number(item, fields.client_key, where, 1, 2, 4, client_key) end
      if protocol ~= nil then add_number(item, fields.protocol, where, 1, 6, 1, protocol) end
      if server_key ~= nil then add_number(item, fields.server_key, where, 1, 2, 4, server_key) end
    end
    -- Expert notes reach the expert tap whether or not the item is real.
    if too_long and frame.session ~= nil and not plain then
      item:add_proto_expert_info(experts.too_long)
    end
    local note = frame.note
    if note ~= nil and not (plain and note == "no_exchange") then
      item:add_proto_expert_info(experts[note])
    end
    if frame.dropped then item:add_proto_expert_info(experts.dropped) end
    if node ~= nil then add_packet(item, node, where) end
    spare_where = where
  end

  return render
end
