// A friend elsewhere on the fediverse, made with Fedify: one account ("friend") with a key pair of
// its own on a server at 127.0.0.1 (a free port), whose inboxes keep every activity Fedify has
// verified. The fediverse test commands it with JSON over HTTP under /control/:
//   POST /control/follow   {"handle": "NAME@HOST:PORT" or an actor URL}  follows that account
//   POST /control/unfollow                                             undoes that follow
//   POST /control/received                                             what the inboxes kept
//   POST /control/tamper   {"actor": URL}  posts a Like signed by Fedify to that account's inboxes,
//                          then the same with a header altered and with the body altered, and
//                          answers the status of each
//   POST /control/lookup   {"url": URL}    fetches that document and reads it as Fedify reads JSON-LD:
//                          its status, content type, type, id and, for an actor, its key
// Switches make it behave as servers of other kinds do:
//   --shape plain     the actor and its key readable by anyone (the default)
//   --shape secure    the actor, and so its key, answers only signed GETs (401 otherwise), as a
//                     server in secure mode does
//   --shape stub-key  signs with a key that is a document of its own (/users/friend/main-key, readable
//                     by anyone, no inbox), and the actor answers only signed GETs
//   --knock SPEC      the signature Fedify tries first on a server it does not know yet:
//                     "rfc9421" or "draft-cavage-http-signatures-12" (the default)
// The first line on stdout names the address: "follower listening on http://127.0.0.1:PORT".
// Fedify's log goes to stderr.
import { createServer } from "node:http";
import { parseArgs } from "node:util";
import { configure, getStreamSink } from "@logtape/logtape";
import {
  createFederation,
  generateCryptoKeyPair,
  MemoryKvStore,
  signRequest,
} from "@fedify/fedify";
import {
  Activity,
  CryptographicKey,
  Endpoints,
  Follow,
  isActor,
  Like,
  Object as ActivityObject,
  Person,
  Undo,
} from "@fedify/fedify/vocab";
import { Writable } from "node:stream";

const NAME = "friend";
const { values: options } = parseArgs({
  options: {
    shape: { type: "string", default: "plain" },
    knock: { type: "string", default: "draft-cavage-http-signatures-12" },
  },
});
if (!["plain", "secure", "stub-key"].includes(options.shape)) throw new Error(`no shape ${options.shape}`);
const signedGetsOnly = options.shape !== "plain";

await configure({
  sinks: { stderr: getStreamSink(Writable.toWeb(process.stderr)) },
  loggers: [
    { category: "fedify", lowestLevel: process.env.FOLLOWER_LOG ?? "info", sinks: ["stderr"] },
    { category: ["logtape", "meta"], lowestLevel: "error", sinks: ["stderr"] },
  ],
});

const keyPair = await generateCryptoKeyPair("RSASSA-PKCS1-v1_5");
const received = [];
let following = null;

const server = createServer((req, res) => {
  answer(req, res).catch((error) => {
    console.error(`follower: ${req.method} ${req.url}: ${error.stack ?? error}`);
    if (!res.headersSent) res.writeHead(500, { "Content-Type": "application/json" });
    res.end(JSON.stringify({ error: String(error) }));
  });
});
await new Promise((resolve) => server.listen(0, "127.0.0.1", resolve));
const origin = `http://127.0.0.1:${server.address().port}`;
const stubKeyId = new URL(`/users/${NAME}/main-key`, origin);

// The server talks to the service on loopback, so Fedify must allow private addresses; it still
// verifies every signature that arrives.
const federation = createFederation({
  kv: new MemoryKvStore(),
  origin,
  allowPrivateAddress: true,
  skipSignatureVerification: false,
  firstKnock: options.knock,
});

// The key as a document of its own, in the shape of a stub-key server's: its id, owner and PEM.
function stubKey(ctx) {
  return new CryptographicKey({ id: stubKeyId, owner: ctx.getActorUri(NAME), publicKey: keyPair.publicKey });
}

const actors = federation
  .setActorDispatcher("/users/{identifier}", async (ctx, identifier) => {
    if (identifier !== NAME) return null;
    const keys = await ctx.getActorKeyPairs(identifier);
    const stub = options.shape === "stub-key";
    return new Person({
      id: ctx.getActorUri(identifier),
      preferredUsername: identifier,
      name: "A friend elsewhere",
      inbox: ctx.getInboxUri(identifier),
      endpoints: new Endpoints({ sharedInbox: ctx.getInboxUri() }),
      publicKey: stub ? stubKey(ctx) : keys[0].cryptographicKey,
      assertionMethods: stub ? [] : keys.map((key) => key.multikey),
    });
  })
  .setKeyPairsDispatcher((_ctx, identifier) => (identifier === NAME ? [keyPair] : []));
// Fedify answers 401 to a GET of the actor unless a key it could verify signed it.
if (signedGetsOnly) actors.authorize(async (ctx) => (await ctx.getSignedKey()) != null);

// Who signs what the friend sends: the actor's own key, or the key document of its own.
function sender() {
  return options.shape === "stub-key" ? [{ privateKey: keyPair.privateKey, keyId: stubKeyId }] : { identifier: NAME };
}

// Fedify calls a listener only once it has verified the request's signature and that the key's
// owner is the activity's actor.
federation
  .setInboxListeners("/users/{identifier}/inbox", "/inbox")
  .on(Activity, async (ctx, activity) => {
    const object = activity.objectId != null && activity.constructor.name === "Create"
      ? await activity.getObject({ documentLoader: ctx.documentLoader })
      : null;
    received.push({
      type: activity.constructor.name,
      id: activity.id?.href ?? null,
      actor: activity.actorId?.href ?? null,
      object: activity.objectId?.href ?? null,
      objectType: object?.constructor.name ?? null,
      content: object?.content?.toString() ?? null,
      to: activity.toIds.map((url) => url.href),
      cc: activity.ccIds.map((url) => url.href),
      inbox: ctx.recipient ?? "shared",
    });
  })
  .onError((_ctx, error) => console.error(`follower: inbox: ${error.stack ?? error}`));

// Fedify looks up acct: handles over https only; the service under test speaks http on loopback,
// so the handle is resolved here through the service's own WebFinger, and Fedify fetches the actor.
async function actorUrlOf(handle) {
  if (/^https?:\/\//.test(handle)) return handle;
  const acct = handle.replace(/^acct:/, "").replace(/^@/, "");
  const host = acct.slice(acct.lastIndexOf("@") + 1);
  const url = new URL(`http://${host}/.well-known/webfinger`);
  url.searchParams.set("resource", `acct:${acct}`);
  const response = await fetch(url, { headers: { Accept: "application/jrd+json" } });
  const type = response.headers.get("content-type") ?? "";
  if (!response.ok || !type.startsWith("application/jrd+json")) {
    throw new Error(`WebFinger ${url} answered ${response.status} ${type}: ${await response.text()}`);
  }
  const jrd = await response.json();
  const self = jrd.links?.find((link) => link.rel === "self" && link.type === "application/activity+json");
  if (jrd.subject?.toLowerCase() !== `acct:${acct}`.toLowerCase() || self?.href == null) {
    throw new Error(`WebFinger ${url} names no actor for acct:${acct}: ${JSON.stringify(jrd)}`);
  }
  return self.href;
}

function context() {
  return federation.createContext(new URL(origin), undefined);
}

async function lookUpActor(ctx, url) {
  const actor = await ctx.lookupObject(url);
  if (!isActor(actor)) throw new Error(`${url} is no actor to Fedify: ${actor?.constructor.name}`);
  return actor;
}

const commands = {
  async follow({ handle }) {
    const ctx = context();
    const actor = await lookUpActor(ctx, await actorUrlOf(handle));
    const follow = new Follow({
      id: new URL(`/follows/${crypto.randomUUID()}`, origin),
      actor: ctx.getActorUri(NAME),
      object: actor.id,
    });
    await ctx.sendActivity(sender(), actor, follow);
    following = { actor, follow };
    const key = await actor.getPublicKey({ documentLoader: ctx.documentLoader });
    return {
      follow: follow.id.href,
      actor: actor.id.href,
      preferredUsername: actor.preferredUsername?.toString() ?? null,
      inbox: actor.inboxId?.href ?? null,
      sharedInbox: actor.endpoints?.sharedInbox?.href ?? null,
      followers: actor.followersId?.href ?? null,
      outbox: actor.outboxId?.href ?? null,
      key: key?.id?.href ?? null,
      keyOwner: key?.ownerId?.href ?? null,
    };
  },

  async unfollow() {
    if (following == null) throw new Error("nobody is followed");
    const ctx = context();
    const undo = new Undo({
      id: new URL(`/undos/${crypto.randomUUID()}`, origin),
      actor: ctx.getActorUri(NAME),
      object: following.follow,
    });
    await ctx.sendActivity(sender(), following.actor, undo);
    following = null;
    return { undone: undo.id.href };
  },

  received() {
    return received;
  },

  // The document as a JSON-LD reader sees it: without its contexts a Note reads as a bare Object.
  async lookup({ url }) {
    const ctx = context();
    const response = await fetch(await actorUrlOf(url), { headers: { Accept: "application/activity+json" } });
    const result = { status: response.status, contentType: response.headers.get("content-type") };
    const json = await response.json();
    const object = await ActivityObject.fromJsonLd(json, {
      documentLoader: ctx.documentLoader,
      contextLoader: ctx.contextLoader,
    });
    result.type = object.constructor.name;
    result.id = object.id?.href ?? null;
    result.content = object.content?.toString() ?? null;
    result.totalItems = object.totalItems ?? null;
    if (isActor(object)) {
      const key = await object.getPublicKey({ documentLoader: ctx.documentLoader, contextLoader: ctx.contextLoader });
      result.inbox = object.inboxId?.href ?? null;
      result.key = key?.id?.href ?? null;
      result.keyOwner = key?.ownerId?.href ?? null;
      result.publicKeyType = key?.publicKey?.algorithm?.name ?? null;
    }
    return result;
  },

  // The same signed request as it was sent, with its Date a minute earlier (a header the
  // signature covers) and with one byte of its body changed, first with the Digest as signed and
  // then with a Digest made anew for the changed body.
  async tamper({ actor: url }) {
    const ctx = context();
    const actor = await lookUpActor(ctx, url);
    const [{ keyId }] = await ctx.getActorKeyPairs(NAME);
    const like = new Like({
      id: new URL(`/likes/${crypto.randomUUID()}`, origin),
      actor: ctx.getActorUri(NAME),
      object: actor.id,
    });
    const body = JSON.stringify(await like.toJsonLd({ contextLoader: ctx.contextLoader }));
    const signed = (inbox) =>
      signRequest(
        new Request(inbox, {
          method: "POST",
          headers: { "Content-Type": "application/activity+json", Accept: "application/activity+json" },
          body,
        }),
        keyPair.privateKey,
        keyId,
        { spec: "draft-cavage-http-signatures-12" },
      );
    const send = async (request, headers = {}, changedBody = body) => {
      const sent = new Headers(request.headers);
      for (const [name, value] of Object.entries(headers)) sent.set(name, value);
      const response = await fetch(request.url, { method: "POST", headers: sent, body: changedBody, redirect: "manual" });
      return { status: response.status, body: (await response.text()).slice(0, 500) };
    };
    const inbox = actor.inboxId.href;
    const sharedInbox = actor.endpoints?.sharedInbox?.href ?? inbox;
    const request = await signed(inbox);
    const earlier = new Date(Date.parse(request.headers.get("Date")) - 60_000).toUTCString();
    const changed = body.replace("/likes/", "/liked/");
    const digest = Buffer.from(await crypto.subtle.digest("SHA-256", new TextEncoder().encode(changed)));
    return {
      signed: await send(request),
      signedToSharedInbox: await send(await signed(sharedInbox)),
      dateAltered: await send(request, { Date: earlier }),
      bodyAltered: await send(request, {}, changed),
      bodyAndDigestAltered: await send(request, { Digest: `SHA-256=${digest.toString("base64")}` }, changed),
    };
  },
};

async function control(req, res, name, body) {
  const command = commands[name];
  if (command == null) {
    res.writeHead(404, { "Content-Type": "application/json" });
    res.end(JSON.stringify({ error: `no command ${name}` }));
    return;
  }
  try {
    const result = await command(body.length > 0 ? JSON.parse(body.toString()) : {});
    res.writeHead(200, { "Content-Type": "application/json" });
    res.end(JSON.stringify(result));
  } catch (error) {
    console.error(`follower: ${name}: ${error.stack ?? error}`);
    res.writeHead(500, { "Content-Type": "application/json" });
    res.end(JSON.stringify({ error: String(error?.message ?? error), cause: String(error?.cause ?? "") }));
  }
}

async function answer(req, res) {
  const chunks = [];
  for await (const chunk of req) chunks.push(chunk);
  const body = Buffer.concat(chunks);
  const url = new URL(req.url, origin);
  if (url.pathname.startsWith("/control/")) return control(req, res, url.pathname.slice(9), body);
  if (options.shape === "stub-key" && url.href === stubKeyId.href && req.method === "GET") {
    const ctx = context();
    res.writeHead(200, { "Content-Type": "application/activity+json" });
    res.end(JSON.stringify(await stubKey(ctx).toJsonLd({ contextLoader: ctx.contextLoader })));
    return;
  }
  const headers = new Headers();
  for (const [name, value] of Object.entries(req.headers)) {
    for (const one of [value].flat()) headers.append(name, one);
  }
  const request = new Request(url, {
    method: req.method,
    headers,
    body: req.method === "GET" || req.method === "HEAD" ? undefined : body,
  });
  const response = await federation.fetch(request, { contextData: undefined });
  if (response.status >= 400) {
    console.error(`follower: ${req.method} ${req.url} answered ${response.status}`);
  }
  res.writeHead(response.status, Object.fromEntries(response.headers));
  res.end(Buffer.from(await response.arrayBuffer()));
}

console.log(`follower listening on ${origin}`);
