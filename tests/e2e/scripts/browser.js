#!/usr/bin/env node
// Plays the user's browser for one sign-in: opens the connection page it is given, presses its
// "Allow this Mac" button, and hands the tarnwick: link the service answers with to Tarnwick the way the
// desktop does, by starting the program named in $TARNWICK_E2E_APP with the link.
'use strict';
const http = require('http');
const { execFileSync } = require('child_process');

function request(url, method, body) {
  return new Promise((resolve, reject) => {
    const headers = body === undefined ? {} : {
      'Content-Type': 'application/x-www-form-urlencoded',
      'Content-Length': Buffer.byteLength(body),
    };
    const outgoing = http.request(url, { method, headers }, (response) => {
      let text = '';
      response.setEncoding('utf8');
      response.on('data', (chunk) => { text += chunk; });
      response.on('end', () => resolve({ status: response.statusCode, headers: response.headers, text }));
    });
    outgoing.on('error', reject);
    outgoing.end(body);
  });
}

async function signIn(pageUrl) {
  const page = await request(pageUrl, 'GET');
  if (page.status !== 200)
    throw new Error(`the connection page answered ${page.status}: ${page.text}`);
  const connection = /name="connection" value="([^"]*)"/.exec(page.text);
  if (!connection)
    throw new Error('the connection page has no "Allow this Mac" form');
  const form = new URLSearchParams({ connection: connection[1] }).toString();
  const approval = await request(new URL('/connect/approve', pageUrl), 'POST', form);
  const callback = approval.headers.location;
  if (approval.status < 300 || approval.status > 399 || !callback || !callback.startsWith('tarnwick:'))
    throw new Error(`approving answered ${approval.status} without a tarnwick: link: ${approval.text}`);
  execFileSync(process.env.TARNWICK_E2E_APP, [callback], { stdio: 'inherit' });
}

signIn(process.argv[2]).catch((error) => {
  console.error(`browser: ${error.message}`);
  process.exit(1);
});
