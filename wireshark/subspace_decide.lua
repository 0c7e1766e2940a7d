-- What the SubSpace dissector decides, once, on the first pass over a
-- capture: each conversation's key exchange and session, which side is
-- the client, the flows whose pieces are joined (each direction of each
-- connection its own), and what was decided for each frame. Later passes
-- (clicks, refiltering, tshark -2) read the decisions, never the
-- conversations, so they show what the first pass showed. Plain Lua with
-- no Wireshark in it; loaded as a plugin by itself it only returns this
-- table.

local folder = (debug.getinfo(1, "S").source:gsub("^@", "")):match("^(.*)[/\\]") or "."
local cipher = dofile(folder .. "/subspace_cipher.lua")
local le = dofile(folder .. "/subspace_le.lua")
local transport = dofile(folder .. "/subspace_transport.lua")

local decide = {}

decide.KEY_REQUEST_LENGTH = 8
decide.KEY_LENGTH_NEEDED = 6  -- the type and a 32-bit key

local KEY_REQUEST, KEY_RESPONSE, DISCONNECT =
  transport.KEY_REQUEST, transport.KEY_RESPONSE, transport.DISCONNECT
local KEY_REQUEST_LENGTH, KEY_LENGTH_NEEDED = decide.KEY_REQUEST_LENGTH, decide.KEY_LENGTH_NEEDED

-- Per file: conversations by their two endpoints, the decision for each
-- frame, and the reassembly's notes for the frames where it noted
-- something.
local conversations, frames, notes

function decide.forget()
  conversations, frames, notes = {}, {}, {}
end
decide.forget()

-- The decision for one frame, a table that many frames share:
--   direction: "c2s", "s2c", or nil where nothing tells the sides apart
--   session:   the session that decrypts it, or nil
--   readable:  whether its bytes are plain once decrypted (false where the
--              keys are not known), so that its packets can be read
--   note:      an expert note's name, or nil
--   dropped:   a key request that dropped what the old connection left
-- Frames between two events of a conversation share one table per
-- direction, so that a long capture costs one reference a frame.
local function shared(conversation, direction)
  local views = conversation.views
  if views == nil then
    views = {}
    conversation.views = views
  end
  local view = views[direction or "none"]
  if view == nil then
    view = {direction = direction, session = conversation.session,
            readable = conversation.encrypting}
    if conversation.client == nil then view.note = "no_exchange" end
    views[direction or "none"] = view
  end
  return view
end

-- A key event changes what later frames get.
local function set_session(conversation, encrypting, session)
  conversation.encrypting = encrypting
  conversation.session = session
  conversation.views = nil
end

-- The key request's decisions: one table for all that carry their key.
local REQUEST = {direction = "c2s", readable = true}
local REQUEST_DROPPING = {direction = "c2s", readable = true, dropped = true}
local REQUEST_CUT = {direction = "c2s", readable = true, note = "not_captured"}
local REQUEST_CUT_DROPPING = {direction = "c2s", readable = true, note = "not_captured",
                              dropped = true}

local function decide_frame(conversation, source, hint, type, length, raw)
  local client = conversation.client
  local direction = hint
  if client ~= nil then direction = source == client and "c2s" or "s2c" end

  if type == KEY_REQUEST and length == KEY_REQUEST_LENGTH
      and (client == nil or source == client) and hint ~= "s2c" then
    -- A key request opens a connection and travels in the clear, also when
    -- a client connects again without a disconnect. Decryption stays as it
    -- is: what was sent before it under the old keys is still in flight.
    conversation.client = source
    conversation.requested = true
    conversation.views = nil
    -- Pieces of the old connection that never got their tail or their
    -- last piece are dropped with it; the new one's flows begin here.
    local dropped = false
    for _, flow in pairs(conversation.flows or {}) do
      dropped = dropped or flow.chunk.size > 0 or flow.stream ~= nil
    end
    conversation.flows, conversation.started = nil, true
    conversation.client_key = #raw >= KEY_LENGTH_NEEDED and le.u32(raw, 3) or nil
    if conversation.client_key == nil then
      return dropped and REQUEST_CUT_DROPPING or REQUEST_CUT
    end
    return dropped and REQUEST_DROPPING or REQUEST
  end

  -- The first key response after a key request is read as sent and sets up
  -- the new keys; another while decrypting is decrypted and changes nothing.
  if type == KEY_RESPONSE and direction ~= "c2s"
      and (not conversation.encrypting or conversation.requested) then
    local frame = {direction = direction, readable = true}
    if client == nil then
      frame.note = "no_request"
    elseif length < KEY_LENGTH_NEEDED then
      frame.note = "short_key"
    elseif conversation.client_key == nil or #raw < KEY_LENGTH_NEEDED then
      frame.note = "not_captured"
    else
      set_session(conversation, true, cipher.session(le.u32(raw, 3), conversation.client_key))
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

-- The decision already made for a frame, or nil.
function decide.known(number)
  return frames[number]
end

-- A datagram quoted in an ICMP error is a copy of one seen before: it is
-- shown as carried and changes nothing.
local QUOTED = {}
function decide.quoted(number)
  frames[number] = QUOTED
  return QUOTED
end

local FLOWING = {[transport.RELIABLE] = true, [transport.CHUNK_BODY] = true,
                 [transport.CHUNK_TAIL] = true, [transport.STREAM] = true,
                 [transport.STREAM_CANCEL] = true, [transport.CLUSTER] = true}

-- Decides a frame on the first pass. key: its conversation (the two
-- endpoints in either order); source: the sender's endpoint; hint: the
-- direction that the capture or the ports tell where no key request has
-- named the client; type and length of the datagram, raw its captured
-- bytes. Returns the decision and the flow that its pieces go to.
function decide.first(number, key, source, hint, type, length, raw)
  local conversation = conversations[key]
  if conversation == nil then
    conversation = {}
    conversations[key] = conversation
  end
  local frame = decide_frame(conversation, source, hint, type, length, raw)
  frames[number] = frame
  -- Only these carry what a flow keeps; the rest need none, so that many
  -- conversations of a key request each (a scan, a flood) cost little.
  if not FLOWING[type] then return frame, nil end
  -- Each direction its own flow, also where nothing says which is which;
  -- a flow that began before the capture knows it.
  local flows = conversation.flows
  if flows == nil then
    flows = {}
    conversation.flows = flows
  end
  local name = frame.direction or source
  local flow = flows[name]
  if flow == nil then
    flow = transport.new_flow(not conversation.started)
    flows[name] = flow
  end
  return frame, flow
end

-- Reads a frame's plain bytes: on the first pass into its flow (which
-- the frame changes), on later ones from what the first pass noted.
function decide.read(number, shown, flow)
  local stored = notes[number]
  local node, sources, noted = transport.read(shown, number, flow, stored)
  if stored == nil and noted ~= nil then notes[number] = noted end
  return node, sources
end

return decide
