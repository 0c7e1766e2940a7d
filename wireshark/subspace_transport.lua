-- The game protocol's transport layer for the SubSpace dissector: reads the
-- packets of one plain datagram into a tree, and joins chunked and streamed
-- packets as the receiving side does, taking the pieces that travel in
-- reliable packets in reliable-id order. Plain Lua (5.1 to 5.4) with no
-- Wireshark in it, so that stand-alone interpreters can test it; loaded as
-- a plugin by itself it only returns this table.
--
-- A packet whose byte 0 is 0x00 is a core packet typed by byte 1, any
-- other a game packet typed by byte 0. Numbers are little-endian.

local folder = (debug.getinfo(1, "S").source:gsub("^@", "")):match("^(.*)[/\\]") or "."
local le = dofile(folder .. "/subspace_le.lua")

local transport = {}

-- Deeper nesting than this is shown as bytes, not read.
transport.MAX_DEPTH = 16
-- A joined packet may not grow past this.
transport.MAX_PACKET = 16 * 1024 * 1024
-- A reliable id still missing when an id this far ahead of it has come is
-- given up: a capture misses datagrams, and a receiver that waited forever
-- would join nothing after the first one lost.
transport.WINDOW = 256

transport.KEY_REQUEST = 0x01
transport.KEY_RESPONSE = 0x02
transport.RELIABLE = 0x03
transport.ACK = 0x04
transport.SYNC_REQUEST = 0x05
transport.SYNC_RESPONSE = 0x06
transport.DISCONNECT = 0x07
transport.CHUNK_BODY = 0x08
transport.CHUNK_TAIL = 0x09
transport.STREAM = 0x0A
transport.STREAM_CANCEL = 0x0B
transport.STREAM_CANCEL_ACK = 0x0C
transport.CLUSTER = 0x0E

transport.NAMES = {
  [0x01] = "key request", [0x02] = "key response", [0x03] = "reliable", [0x04] = "ack",
  [0x05] = "sync request", [0x06] = "sync response", [0x07] = "disconnect",
  [0x08] = "chunk body", [0x09] = "chunk tail", [0x0A] = "stream",
  [0x0B] = "stream cancel", [0x0C] = "stream cancel ack", [0x0E] = "cluster",
}

local byte, sub, concat, format = string.byte, string.sub, table.concat, string.format
local u32 = le.u32
local TWO31, TWO32 = 2147483648, 4294967296

-- What a receiver keeps per connection and direction: the next reliable id
-- it will take, the reliable packets that arrived ahead of it (their
-- pieces), the frame that first carried each id (seen, by the id's
-- distance from the first id plus 1: ids that follow one another are then
-- a list, which Lua keeps as an array, not as a hash of one node each),
-- and the chunked and streamed packets being joined. A flow whose
-- beginning the capture does not hold (partial) starts in the middle of a
-- chunked and of a streamed packet, as far as it knows: their pieces up to
-- the next tail, and up to a stream of another length, are shown as pieces
-- and never joined.
function transport.new_flow(partial)
  local flow = {next = nil, first_id = nil, held = {}, seen = {}, chunk = {parts = {}, size = 0},
                stream = nil}
  if partial then transport.lose_start(flow) end
  return flow
end

-- The flow lost what it was joining: what comes until the next packet
-- begins is not joined.
function transport.lose_start(flow)
  flow.chunk = {parts = {}, size = 0, missing = true}
  flow.stream, flow.stream_missing = nil, true
end

local function problem(node, code, detail)
  node.problem = code
  node.detail = detail
end

-- Whether the packet has count bytes after its type; marks it short if not.
local function needs(node, count)
  if node.size < 2 + count then
    problem(node, "short")
    return false
  end
  return true
end

-- The same, and marks bytes past them.
local function exactly(node, count)
  if needs(node, count) and node.size > 2 + count then
    problem(node, "extra", node.size - 2 - count)
  end
end

-- The packets joined so far go to ctx.completed; note records for the
-- piece what became of it (note.record.frame: the frame that completed
-- its packet; note.problem: why it was not joined).
local function take(ctx, flow, piece)
  local note, kind, bytes = piece.note, piece.kind, piece.bytes
  if kind == transport.STREAM_CANCEL then
    flow.stream, flow.stream_missing = nil, nil
    return
  end
  if kind == transport.STREAM then
    local missing = flow.stream_missing
    if missing ~= nil and (missing == true or missing == piece.length) then
      if #bytes ~= piece.length then
        -- Its length says which stream it is, not where the stream began;
        -- a piece as long as the whole stream is the whole stream.
        flow.stream_missing = piece.length
        note.problem = "start_missing"
        return
      end
    end
    flow.stream_missing = nil
    local stream = flow.stream
    if stream ~= nil and stream.total ~= piece.length then
      note.problem = "restarted"
      stream = nil
    end
    if piece.length > transport.MAX_PACKET then
      note.problem = "too_big"
      flow.stream = nil
      return
    end
    if stream == nil then
      stream = {total = piece.length, parts = {}, size = 0, record = {}}
      flow.stream = stream
    end
    stream.parts[#stream.parts + 1] = bytes
    stream.size = stream.size + #bytes
    note.record = stream.record
    if stream.size > stream.total then
      note.problem = "overrun"
      note.record = nil
      flow.stream = nil
    elseif stream.size == stream.total then
      stream.record.frame = ctx.frame
      flow.stream = nil
      ctx.completed[#ctx.completed + 1] = concat(stream.parts)
    end
    return
  end
  -- A chunk body or tail.
  local chunk = flow.chunk
  if chunk.missing then
    note.problem = "start_missing"
    if kind == transport.CHUNK_TAIL then chunk.missing = nil end
    return
  end
  if chunk.failed or chunk.size + #bytes > transport.MAX_PACKET then
    note.problem = "too_big"
    chunk.failed = kind ~= transport.CHUNK_TAIL
    chunk.parts, chunk.size, chunk.record = {}, 0, nil
    return
  end
  chunk.record = chunk.record or {}
  note.record = chunk.record
  chunk.parts[#chunk.parts + 1] = bytes
  chunk.size = chunk.size + #bytes
  if kind == transport.CHUNK_TAIL then
    chunk.record.frame = ctx.frame
    ctx.completed[#ctx.completed + 1] = concat(chunk.parts)
    chunk.parts, chunk.size, chunk.record = {}, 0, nil
  end
end

-- Takes the pieces of the reliable packets held from flow.next on, in id
-- order, as long as there are.
local function take_held(ctx, flow)
  local held = flow.held
  local pieces = held[flow.next]
  while pieces ~= nil do
    for i = 1, #pieces do take(ctx, flow, pieces[i]) end
    held[flow.next] = nil
    flow.next = (flow.next + 1) % TWO32
    pieces = held[flow.next]
  end
end

-- The ids from flow.next that keep id from being within the window are
-- given up: those held are taken, those never seen are noted missing (as
-- ranges, first and last) and cost the flow what it was joining. Held ids
-- are never further ahead than the window, so this looks at no more than
-- the window's ids, however far id jumped.
local function give_up(ctx, flow, id, node)
  local window = transport.WINDOW
  local missing = {}
  while (id - flow.next) % TWO32 >= window do
    local pieces = flow.held[flow.next]
    if pieces ~= nil then
      take_held(ctx, flow)
    else
      local first = flow.next
      local last = first
      local limit = (id - window) % TWO32  -- the last id that must go
      -- Up to the next held id, or the limit where none is held before it.
      local span = (limit - first) % TWO32
      if span >= window then
        last = limit
      else
        while last ~= limit and flow.held[(last + 1) % TWO32] == nil do
          last = (last + 1) % TWO32
        end
      end
      missing[#missing + 1] = {first, last}
      transport.lose_start(flow)
      flow.next = (last + 1) % TWO32
    end
  end
  node.note = node.note or {}
  node.note.missing = missing
end

-- A reliable packet as the receiver takes it: a repeated id is not taken
-- again, an id ahead of the next one waits, and the next one is taken with
-- every waiting one that follows it. One too far ahead makes the ids it
-- left behind missing.
local function sequence(ctx, flow, node, pieces)
  local id = node.id
  if flow.next == nil then flow.next, flow.first_id = id, id end
  local slot = (id - flow.first_id) % TWO32 + 1
  local first = flow.seen[slot]
  if first ~= nil then
    node.note = {retransmission = first}
    return
  end
  flow.seen[slot] = ctx.frame
  local ahead = (id - flow.next) % TWO32
  if ahead >= TWO31 then
    node.note = {stale = flow.next}
    return
  end
  if ahead > 0 then
    flow.held[id] = pieces
    if ahead < transport.WINDOW then
      node.note = {waiting = flow.next}
      return
    end
    give_up(ctx, flow, id, node)
    take_held(ctx, flow)
    if flow.held[id] ~= nil then node.note.waiting = flow.next end
    return
  end
  -- The next id, as most are: taken at once, without a stay in held that
  -- would leave its key behind there.
  for i = 1, #pieces do take(ctx, flow, pieces[i]) end
  flow.next = (flow.next + 1) % TWO32
  take_held(ctx, flow)
end

local read

-- A frame without notes; its table is made when the first is kept.
local NO_NOTES = {}

local function keep_note(ctx, index, note)
  local notes = ctx.notes
  if notes == NO_NOTES then
    notes = {}
    ctx.notes = notes
  end
  notes[index] = note
end

-- The packets joined while node was read become its children, unless
-- node, depth deep, is as deep as packets go.
local function adopt(ctx, node, depth, built)
  if depth >= transport.MAX_DEPTH then
    problem(node, "too_deep")
    return
  end
  -- Read, never fed back: pieces inside a joined packet are shown, not
  -- joined again, so no packet makes more work than its bytes.
  local flow = ctx.flow
  ctx.flow = false
  local sources = ctx.sources
  if not sources then
    sources = {ctx.data}
    ctx.sources = sources
  end
  for i = 1, #built do
    local source = #sources + 1
    sources[source] = built[i]
    local child = read(ctx, built[i], source, 1, #built[i], depth + 1, nil)
    child.reassembled = true
    node.children[#node.children + 1] = child
  end
  ctx.flow = flow
end

-- The note of the node being read: the one stored on an earlier pass, or a
-- new one on the first.
local function note_of(ctx, index)
  local note = ctx.notes[index]
  if note == nil and ctx.flow then
    note = {}
    keep_note(ctx, index, note)
  end
  return note
end

-- Chunk and stream pieces: taken at once, or by the reliable packet that
-- carries them (owner) when its turn comes. index: the node's number in
-- its frame.
local function piece(ctx, node, index, data, at, last, owner)
  node.piece_offset = at - 1
  node.piece_size = last - at + 1
  local flow = ctx.flow
  if not flow then return end
  local item = {kind = node.core, bytes = sub(data, at, last), length = node.length,
                note = note_of(ctx, index)}
  node.note = item.note
  if owner ~= nil then
    owner[#owner + 1] = item
    return
  end
  local completed = ctx.completed
  ctx.completed = {}
  take(ctx, flow, item)
  if #ctx.completed > 0 then item.note.built = ctx.completed end
  ctx.completed = completed
end

-- Reads the packet at positions first to last (1-based) of data, which is
-- data source number source, nested depth deep; owner collects the pieces
-- of the reliable packet that holds it. Returns its node:
--   source, offset (0-based), size; core (byte 1) or game (byte 0);
--   children; problem and detail; the fields of its type; note, what the
--   reassembly decided for it (kept across passes in ctx.notes).
read = function(ctx, data, source, first, last, depth, owner)
  local index = ctx.count + 1
  ctx.count = index
  local size = last - first + 1
  -- Each node is made in the shape it keeps: a table that grows past the
  -- size it was made with is made again, and a datagram makes several.
  if size <= 0 then
    return {source = source, offset = first - 1, size = 0, problem = "empty"}
  end
  local b0 = byte(data, first)
  if b0 ~= 0 then
    -- Game packets, most of what a capture holds, carry no notes.
    return {source = source, offset = first - 1, size = size, game = b0}
  end
  if size < 2 then
    -- A core packet without its type byte.
    return {source = source, offset = first - 1, size = size, core = false, problem = "short"}
  end
  local type = byte(data, first + 1)
  local body = first + 2
  local node
  if type == transport.RELIABLE and size >= 6 then
    node = {source = source, offset = first - 1, size = size, core = type,
            note = ctx.notes[index], id = u32(data, body), children = {}}
  elseif type == transport.ACK and size >= 6 then
    node = {source = source, offset = first - 1, size = size, core = type,
            note = ctx.notes[index], ack = u32(data, body)}
  else
    node = {source = source, offset = first - 1, size = size, core = type,
            note = ctx.notes[index]}
  end
  if type == transport.RELIABLE then
    if not needs(node, 4) then return node end
    local pieces = ctx.flow and {} or nil
    if size == 6 then
      problem(node, "empty")
    elseif depth >= transport.MAX_DEPTH then
      problem(node, "too_deep")
    else
      node.children[1] = read(ctx, data, source, body + 4, last, depth + 1, pieces)
    end
    if ctx.flow then
      -- Most reliable packets are taken in turn and need no note.
      local completed = ctx.completed
      local before = #completed
      sequence(ctx, ctx.flow, node, pieces)
      if #completed > before then
        local built = {}
        for i = before + 1, #completed do
          built[#built + 1] = completed[i]
          completed[i] = nil
        end
        node.note = node.note or {}
        node.note.built = built
      end
      if node.note ~= nil then keep_note(ctx, index, node.note) end
    end
    if node.note ~= nil and node.note.built ~= nil then adopt(ctx, node, depth, node.note.built) end
  elseif type == transport.ACK then
    exactly(node, 4)
  elseif type == transport.SYNC_REQUEST then
    if needs(node, 4) then
      node.time = u32(data, body)
      if size >= 14 then
        node.sent, node.received = u32(data, body + 4), u32(data, body + 8)
        if size > 14 then problem(node, "extra", size - 14) end
      elseif size > 6 then
        problem(node, "short")
      end
    end
  elseif type == transport.SYNC_RESPONSE then
    exactly(node, 8)
    if size >= 10 then node.echo, node.time = u32(data, body), u32(data, body + 4) end
  elseif type == transport.CHUNK_BODY or type == transport.CHUNK_TAIL then
    piece(ctx, node, index, data, body, last, owner)
  elseif type == transport.STREAM then
    if not needs(node, 4) then return node end
    node.length = u32(data, body)
    piece(ctx, node, index, data, body + 4, last, owner)
  elseif type == transport.STREAM_CANCEL then
    exactly(node, 0)
    if ctx.flow then
      local item = {kind = type, note = {}}
      if owner ~= nil then owner[#owner + 1] = item else take(ctx, ctx.flow, item) end
    end
  elseif type == transport.STREAM_CANCEL_ACK then
    exactly(node, 0)
  elseif type == transport.CLUSTER then
    node.children = {}
    if depth >= transport.MAX_DEPTH then
      problem(node, "too_deep")
      return node
    end
    local at = body
    while at <= last do
      local length = byte(data, at)
      if length == 0 then
        problem(node, "cluster_zero")
        break
      end
      local stop = at + length
      if stop > last then
        problem(node, "cluster_overrun", length)
        stop = last
      end
      node.children[#node.children + 1] = read(ctx, data, source, at + 1, stop, depth + 1, owner)
      at = stop + 1
    end
    if #node.children == 0 and node.problem == nil then problem(node, "empty") end
  elseif type == transport.KEY_REQUEST then
    exactly(node, 6)  -- a key, the protocol number and one more byte
  elseif type ~= transport.KEY_RESPONSE and type ~= transport.DISCONNECT then
    node.unknown = true
  end
  if node.note ~= nil and node.note.built ~= nil and type ~= transport.RELIABLE then
    node.children = node.children or {}
    adopt(ctx, node, depth, node.note.built)
  end
  return node
end

-- Reads one datagram. flow: the receiver's state of its connection and
-- direction on the first pass, which the datagram changes; nil on later
-- passes, which take what the first decided from notes. notes: what the
-- first pass noted for the frame (index -> note), or nil. Returns the top
-- node; the data sources, where packets were joined (sources[1] is data,
-- the others the joined packets), else nil; and the frame's notes, nil
-- where there are none.
local reading = {completed = {}}  -- one datagram at a time: no table a call

function transport.read(data, frame, flow, notes)
  local ctx = reading
  -- Its fields are set to false, not nil, where absent: keys set to nil
  -- and back would cost the table a rehash now and then.
  ctx.frame, ctx.flow, ctx.notes, ctx.count = frame, flow or false, notes or NO_NOTES, 0
  ctx.data, ctx.sources = data, false
  local node = read(ctx, data, 1, 1, #data, 0, nil)
  notes = ctx.notes ~= NO_NOTES and ctx.notes or nil
  local sources = ctx.sources or nil
  ctx.flow, ctx.notes, ctx.data, ctx.sources = false, NO_NOTES, false, false
  return node, sources, notes
end

-- A number in decimal, as the Info column and the tree show ids. A
-- number turned into text costs a format, and a frame shows its ids more
-- than once, its neighbours' ids again: the texts of the ids seen last
-- are kept (a bounded number).
local decimals, decimal_count = {}, 0
function transport.decimal(number)
  local text = decimals[number]
  if text == nil then
    if decimal_count >= 4096 then decimals, decimal_count = {}, 0 end
    text = format("%.0f", number)
    decimals[number] = text
    decimal_count = decimal_count + 1
  end
  return text
end
local decimal = transport.decimal
local cluster_names = {}  -- "cluster(3)", by count

-- A short account of a node and what it holds, for the Info column:
-- "reliable 12 > cluster(3)".
local game_names = {}  -- "game 0x2B", by type: the Info column of most frames
for type = 1, 255 do game_names[type] = format("game 0x%02X", type) end

function transport.summary(node)
  local text
  if node.game ~= nil then
    text = game_names[node.game]
  elseif not node.core then
    text = node.size == 0 and "empty" or "core"
  elseif node.core == transport.RELIABLE and node.id ~= nil then
    text = "reliable " .. decimal(node.id)
    local child = node.children[1]
    if child ~= nil and not child.reassembled then text = text .. " > " .. transport.summary(child) end
  elseif node.core == transport.ACK and node.ack ~= nil then
    text = "ack " .. decimal(node.ack)
  elseif node.core == transport.CLUSTER then
    local count = 0
    for i = 1, #node.children do
      if not node.children[i].reassembled then count = count + 1 end
    end
    text = cluster_names[count]
    if text == nil then
      text = format("cluster(%d)", count)
      cluster_names[count] = text
    end
  else
    text = transport.NAMES[node.core] or format("core 0x%02X", node.core)
  end
  for i = 1, node.children and #node.children or 0 do
    local child = node.children[i]
    if child.reassembled then text = text .. " + reassembled " .. transport.summary(child) end
  end
  return text
end

return transport
